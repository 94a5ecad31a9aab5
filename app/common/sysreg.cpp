#include "sysreg.h"

TSysRegVANT* SysRegVANT = nullptr;
