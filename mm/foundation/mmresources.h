#pragma once
// The program's compiled-in resources by type and name ("WAVE" sounds, "BITMAP" pictures): the
// program registers the bytes once at start-up; the library finds them by name.
#include <cstdint>
#include <span>
#include <string>

// The bytes stay the caller's and must outlive every lookup.
void RegisterResource(const std::string& type, const std::string& name,
                      std::span<const uint8_t> bytes);
// Empty when there is no such resource.
std::span<const uint8_t> FindResourceBytes(const std::string& type, const std::string& name);
