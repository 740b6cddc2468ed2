#pragma once
// The Unicode White_Space set, with the characters next to each member and
// those easily taken for white space (U+180E, U+200B, U+FEFF), for every
// place that decides what is white space.

#include <cstddef>

namespace velmarch::testing {

struct WhiteSpaceCase {
    char32_t code_point;
    bool white_space;
};

inline constexpr WhiteSpaceCase kWhiteSpaceCases[] = {
    {0x0009, true},  {0x000A, true},  {0x000B, true},  {0x000C, true},  {0x000D, true},  {0x0020, true},
    {0x0085, true},  {0x00A0, true},  {0x1680, true},  {0x2000, true},  {0x2001, true},  {0x2002, true},
    {0x2003, true},  {0x2004, true},  {0x2005, true},  {0x2006, true},  {0x2007, true},  {0x2008, true},
    {0x2009, true},  {0x200A, true},  {0x2028, true},  {0x2029, true},  {0x202F, true},  {0x205F, true},
    {0x3000, true},  {0x0000, false}, {0x0008, false}, {0x000E, false}, {0x001C, false}, {0x001F, false},
    {0x0021, false}, {0x007F, false}, {0x0084, false}, {0x0086, false}, {0x009F, false}, {0x00A1, false},
    {0x167F, false}, {0x1681, false}, {0x180E, false}, {0x1FFF, false}, {0x200B, false}, {0x200C, false},
    {0x200D, false}, {0x2027, false}, {0x202A, false}, {0x202E, false}, {0x2030, false}, {0x205E, false},
    {0x2060, false}, {0x2FFF, false}, {0x3001, false}, {0xFEFF, false}, {0xFFFD, false},
};

inline constexpr std::size_t kWhiteSpaceCount = 25;

}  // namespace velmarch::testing
