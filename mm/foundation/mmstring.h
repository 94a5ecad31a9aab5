#pragma once
// String helpers of the library over single-byte strings; positions are 1-based and 0 means
// "not found".
#include <cstdint>
#include <string>
#include <string_view>

namespace mm {

// Position of the N-th occurrence of `sub` in `s`; occurrences may overlap. 0 when there is none
// or when `n` < 1, `sub` or `s` is empty.
int StrPosEx(std::string_view sub, std::string_view s, int n);
// Position of `sub` in the part of `s` starting at `from`, counted within that part.
int PosEx(int from, std::string_view sub, std::string_view s);
// Position of the last occurrence of `sub` in `s`.
int PosRight(std::string_view sub, std::string_view s);

// Removes everything before the first `ch` (unchanged without it).
void DeleteLeft(std::string& s, char ch);
// Removes everything after the last `ch`; without it `s` becomes empty.
void DeleteRight(std::string& s, char ch);
// The part before the first / after the last `ch`; empty without it.
std::string LeftEnd(std::string_view s, char ch);
std::string RightEnd(std::string_view s, char ch);
// The first / last `n` characters (all of them when shorter).
std::string LeftStr(std::string_view s, int n);
std::string RightStr(std::string_view s, int n);
// `s` filled with `ch` to `len` characters on the left, on the right, or on both sides (with
// (len − length) div 2 before it); `s` itself when already that long.
std::string PadLeft(std::string_view s, char ch, int len);
std::string PadRight(std::string_view s, char ch, int len);
std::string PadEnds(std::string_view s, char ch, int len);
std::string Replicate(std::string_view s, int count);

// Equal without regard to case. The text is CP932: ASCII letters fold, the second byte of a
// double-byte character never does (0x83 0x41 and 0x83 0x61 are two characters).
bool Equal(std::string_view s1, std::string_view s2);
std::string Replace(std::string_view s, char old_ch, char new_ch);

// The first eight characters of `s`, padded on the left with '0', read as hexadecimal; characters
// that are no hexadecimal digit count 0. "FFFFFFFF" is -1.
int32_t HexToInt(std::string_view s);
// `digits` characters '0'/'1', the last for bit 0 (bits above 31 are '0').
std::string IntToBin(uint32_t value, int digits);

// Upper case of Latin-1 text: ä, ö, ü become Ä, Ö, Ü; ASCII letters their upper case.
char DUpCase(char ch);
std::string DUpperCase(std::string_view s);

// The keyed byte transform; Decrypt(Encrypt(s, k), k) == s.
std::string Encrypt(std::string_view s, uint16_t key);
std::string Decrypt(std::string_view s, uint16_t key);

}  // namespace mm
