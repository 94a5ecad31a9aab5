#pragma once
// The program's compiled-in resources by type and name ("WAVE" sounds, "BITMAP" pictures): the
// program registers the bytes once at start-up; the library finds them by name.
#include <cstdint>
#include <span>
#include <string>

#include "ui_canvas.h"

// The bytes stay the caller's and must outlive every lookup.
void RegisterResource(const std::string& type, const std::string& name,
                      std::span<const uint8_t> bytes);
// Empty when there is no such resource.
std::span<const uint8_t> FindResourceBytes(const std::string& type, const std::string& name);

// The library's own pictures by name (LED digit strips "LCD_13X21", symbol strips "LCDS_…",
// "LCD_MODE", the spin glyphs "MMSPINUPV" …), drawn at build time; empty when unknown.
vant::TBitmap LoadLibraryBitmap(const std::string& name);
