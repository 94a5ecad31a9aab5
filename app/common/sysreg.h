#pragma once
// The program-wide settings store: made by the first main window that finds none, freed by it.
class TSysRegVANT;
extern TSysRegVANT* SysRegVANT;
