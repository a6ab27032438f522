// Sort keys of the text orders; see key_text.h for the layout.
//
// Where the codes come from. General Legacy: the index "Unicode" of table
// "Table" in unicode_comp_jet4.mdb holds one row whose text is every
// character U+0001 to U+00FF in order; its key gives each character's
// primary and diacritic weights, or its special weight, and every other
// text key of the Jet 4 and ACE 12 test files (object names, test rows)
// agrees with them. General: object names, test rows and a file name in the
// ACE 14 test files, which cover the digits, the letters a to y in both
// cases, blank, "." and "_".
#include "data/access/format/key_text.h"

#include <algorithm>

#include "data/access/format/index_key.h"
#include "data/text_util.h"

namespace vov::access {

namespace {

constexpr uint8_t kSectionEnd = 0x01;
constexpr uint8_t kKeyEnd = 0x00;
constexpr uint8_t kNoDiacritic = 0x02;
constexpr uint8_t kSpecialKind = 0x06;

// A character's weights. `primaryLength` 0: the character has only a
// special weight.
struct Code {
  uint8_t primaryLength;
  uint8_t weights;        // primary weights the bytes hold (2 for Æ, ß, Þ)
  uint8_t primary[2];
  uint8_t diacritic;
  uint8_t special;
};

// General Legacy, U+0001 to U+00FF.
constexpr Code kLegacy[255] = {
    {0, 0, {0, 0}, 0, 0x03},  // 0001
    {0, 0, {0, 0}, 0, 0x04},  // 0002
    {0, 0, {0, 0}, 0, 0x05},  // 0003
    {0, 0, {0, 0}, 0, 0x06},  // 0004
    {0, 0, {0, 0}, 0, 0x07},  // 0005
    {0, 0, {0, 0}, 0, 0x08},  // 0006
    {0, 0, {0, 0}, 0, 0x09},  // 0007
    {0, 0, {0, 0}, 0, 0x0a},  // 0008
    {2, 1, {0x08, 0x03}, 0x02, 0},  // 0009
    {2, 1, {0x08, 0x04}, 0x02, 0},  // 000A
    {2, 1, {0x08, 0x05}, 0x02, 0},  // 000B
    {2, 1, {0x08, 0x06}, 0x02, 0},  // 000C
    {2, 1, {0x08, 0x07}, 0x02, 0},  // 000D
    {0, 0, {0, 0}, 0, 0x0b},  // 000E
    {0, 0, {0, 0}, 0, 0x0c},  // 000F
    {0, 0, {0, 0}, 0, 0x0d},  // 0010
    {0, 0, {0, 0}, 0, 0x0e},  // 0011
    {0, 0, {0, 0}, 0, 0x0f},  // 0012
    {0, 0, {0, 0}, 0, 0x10},  // 0013
    {0, 0, {0, 0}, 0, 0x11},  // 0014
    {0, 0, {0, 0}, 0, 0x12},  // 0015
    {0, 0, {0, 0}, 0, 0x13},  // 0016
    {0, 0, {0, 0}, 0, 0x14},  // 0017
    {0, 0, {0, 0}, 0, 0x15},  // 0018
    {0, 0, {0, 0}, 0, 0x16},  // 0019
    {0, 0, {0, 0}, 0, 0x17},  // 001A
    {0, 0, {0, 0}, 0, 0x18},  // 001B
    {0, 0, {0, 0}, 0, 0x19},  // 001C
    {0, 0, {0, 0}, 0, 0x1a},  // 001D
    {0, 0, {0, 0}, 0, 0x1b},  // 001E
    {0, 0, {0, 0}, 0, 0x1c},  // 001F
    {1, 1, {0x07, 0x00}, 0x02, 0},  // 0020 blank
    {1, 1, {0x09, 0x00}, 0x02, 0},  // 0021 !
    {1, 1, {0x0a, 0x00}, 0x02, 0},  // 0022 "
    {1, 1, {0x0c, 0x00}, 0x02, 0},  // 0023 #
    {1, 1, {0x0e, 0x00}, 0x02, 0},  // 0024 $
    {1, 1, {0x10, 0x00}, 0x02, 0},  // 0025 %
    {1, 1, {0x12, 0x00}, 0x02, 0},  // 0026 &
    {0, 0, {0, 0}, 0, 0x80},  // 0027 '
    {1, 1, {0x14, 0x00}, 0x02, 0},  // 0028 (
    {1, 1, {0x16, 0x00}, 0x02, 0},  // 0029 )
    {1, 1, {0x18, 0x00}, 0x02, 0},  // 002A *
    {1, 1, {0x2c, 0x00}, 0x02, 0},  // 002B +
    {1, 1, {0x1a, 0x00}, 0x02, 0},  // 002C ,
    {0, 0, {0, 0}, 0, 0x82},  // 002D -
    {1, 1, {0x1c, 0x00}, 0x02, 0},  // 002E .
    {1, 1, {0x1e, 0x00}, 0x02, 0},  // 002F /
    {1, 1, {0x36, 0x00}, 0x02, 0},  // 0030 0
    {1, 1, {0x38, 0x00}, 0x02, 0},  // 0031 1
    {1, 1, {0x3a, 0x00}, 0x02, 0},  // 0032 2
    {1, 1, {0x3c, 0x00}, 0x02, 0},  // 0033 3
    {1, 1, {0x3e, 0x00}, 0x02, 0},  // 0034 4
    {1, 1, {0x40, 0x00}, 0x02, 0},  // 0035 5
    {1, 1, {0x42, 0x00}, 0x02, 0},  // 0036 6
    {1, 1, {0x44, 0x00}, 0x02, 0},  // 0037 7
    {1, 1, {0x46, 0x00}, 0x02, 0},  // 0038 8
    {1, 1, {0x48, 0x00}, 0x02, 0},  // 0039 9
    {1, 1, {0x20, 0x00}, 0x02, 0},  // 003A :
    {1, 1, {0x22, 0x00}, 0x02, 0},  // 003B ;
    {1, 1, {0x2e, 0x00}, 0x02, 0},  // 003C <
    {1, 1, {0x30, 0x00}, 0x02, 0},  // 003D =
    {1, 1, {0x32, 0x00}, 0x02, 0},  // 003E >
    {1, 1, {0x24, 0x00}, 0x02, 0},  // 003F ?
    {1, 1, {0x26, 0x00}, 0x02, 0},  // 0040 @
    {1, 1, {0x4a, 0x00}, 0x02, 0},  // 0041 A
    {1, 1, {0x4c, 0x00}, 0x02, 0},  // 0042 B
    {1, 1, {0x4d, 0x00}, 0x02, 0},  // 0043 C
    {1, 1, {0x4f, 0x00}, 0x02, 0},  // 0044 D
    {1, 1, {0x51, 0x00}, 0x02, 0},  // 0045 E
    {1, 1, {0x53, 0x00}, 0x02, 0},  // 0046 F
    {1, 1, {0x55, 0x00}, 0x02, 0},  // 0047 G
    {1, 1, {0x57, 0x00}, 0x02, 0},  // 0048 H
    {1, 1, {0x59, 0x00}, 0x02, 0},  // 0049 I
    {1, 1, {0x5b, 0x00}, 0x02, 0},  // 004A J
    {1, 1, {0x5c, 0x00}, 0x02, 0},  // 004B K
    {1, 1, {0x5e, 0x00}, 0x02, 0},  // 004C L
    {1, 1, {0x60, 0x00}, 0x02, 0},  // 004D M
    {1, 1, {0x62, 0x00}, 0x02, 0},  // 004E N
    {1, 1, {0x64, 0x00}, 0x02, 0},  // 004F O
    {1, 1, {0x66, 0x00}, 0x02, 0},  // 0050 P
    {1, 1, {0x68, 0x00}, 0x02, 0},  // 0051 Q
    {1, 1, {0x69, 0x00}, 0x02, 0},  // 0052 R
    {1, 1, {0x6b, 0x00}, 0x02, 0},  // 0053 S
    {1, 1, {0x6d, 0x00}, 0x02, 0},  // 0054 T
    {1, 1, {0x6f, 0x00}, 0x02, 0},  // 0055 U
    {1, 1, {0x71, 0x00}, 0x02, 0},  // 0056 V
    {1, 1, {0x73, 0x00}, 0x02, 0},  // 0057 W
    {1, 1, {0x75, 0x00}, 0x02, 0},  // 0058 X
    {1, 1, {0x76, 0x00}, 0x02, 0},  // 0059 Y
    {1, 1, {0x78, 0x00}, 0x02, 0},  // 005A Z
    {1, 1, {0x27, 0x00}, 0x02, 0},  // 005B [
    {1, 1, {0x29, 0x00}, 0x02, 0},  // 005C backslash
    {1, 1, {0x2a, 0x00}, 0x02, 0},  // 005D ]
    {2, 1, {0x2b, 0x02}, 0x02, 0},  // 005E ^
    {2, 1, {0x2b, 0x03}, 0x02, 0},  // 005F _
    {2, 1, {0x2b, 0x07}, 0x02, 0},  // 0060 `
    {1, 1, {0x4a, 0x00}, 0x02, 0},  // 0061 a
    {1, 1, {0x4c, 0x00}, 0x02, 0},  // 0062 b
    {1, 1, {0x4d, 0x00}, 0x02, 0},  // 0063 c
    {1, 1, {0x4f, 0x00}, 0x02, 0},  // 0064 d
    {1, 1, {0x51, 0x00}, 0x02, 0},  // 0065 e
    {1, 1, {0x53, 0x00}, 0x02, 0},  // 0066 f
    {1, 1, {0x55, 0x00}, 0x02, 0},  // 0067 g
    {1, 1, {0x57, 0x00}, 0x02, 0},  // 0068 h
    {1, 1, {0x59, 0x00}, 0x02, 0},  // 0069 i
    {1, 1, {0x5b, 0x00}, 0x02, 0},  // 006A j
    {1, 1, {0x5c, 0x00}, 0x02, 0},  // 006B k
    {1, 1, {0x5e, 0x00}, 0x02, 0},  // 006C l
    {1, 1, {0x60, 0x00}, 0x02, 0},  // 006D m
    {1, 1, {0x62, 0x00}, 0x02, 0},  // 006E n
    {1, 1, {0x64, 0x00}, 0x02, 0},  // 006F o
    {1, 1, {0x66, 0x00}, 0x02, 0},  // 0070 p
    {1, 1, {0x68, 0x00}, 0x02, 0},  // 0071 q
    {1, 1, {0x69, 0x00}, 0x02, 0},  // 0072 r
    {1, 1, {0x6b, 0x00}, 0x02, 0},  // 0073 s
    {1, 1, {0x6d, 0x00}, 0x02, 0},  // 0074 t
    {1, 1, {0x6f, 0x00}, 0x02, 0},  // 0075 u
    {1, 1, {0x71, 0x00}, 0x02, 0},  // 0076 v
    {1, 1, {0x73, 0x00}, 0x02, 0},  // 0077 w
    {1, 1, {0x75, 0x00}, 0x02, 0},  // 0078 x
    {1, 1, {0x76, 0x00}, 0x02, 0},  // 0079 y
    {1, 1, {0x78, 0x00}, 0x02, 0},  // 007A z
    {2, 1, {0x2b, 0x09}, 0x02, 0},  // 007B {
    {2, 1, {0x2b, 0x0b}, 0x02, 0},  // 007C |
    {2, 1, {0x2b, 0x0d}, 0x02, 0},  // 007D }
    {2, 1, {0x2b, 0x0f}, 0x02, 0},  // 007E ~
    {0, 0, {0, 0}, 0, 0x1d},  // 007F
    {0, 0, {0, 0}, 0, 0x1e},  // 0080
    {0, 0, {0, 0}, 0, 0x1f},  // 0081
    {0, 0, {0, 0}, 0, 0x20},  // 0082
    {0, 0, {0, 0}, 0, 0x21},  // 0083
    {0, 0, {0, 0}, 0, 0x22},  // 0084
    {0, 0, {0, 0}, 0, 0x23},  // 0085
    {0, 0, {0, 0}, 0, 0x24},  // 0086
    {0, 0, {0, 0}, 0, 0x25},  // 0087
    {0, 0, {0, 0}, 0, 0x26},  // 0088
    {0, 0, {0, 0}, 0, 0x27},  // 0089
    {0, 0, {0, 0}, 0, 0x28},  // 008A
    {0, 0, {0, 0}, 0, 0x29},  // 008B
    {0, 0, {0, 0}, 0, 0x2a},  // 008C
    {0, 0, {0, 0}, 0, 0x2b},  // 008D
    {0, 0, {0, 0}, 0, 0x2c},  // 008E
    {0, 0, {0, 0}, 0, 0x2d},  // 008F
    {0, 0, {0, 0}, 0, 0x2e},  // 0090
    {0, 0, {0, 0}, 0, 0x2f},  // 0091
    {0, 0, {0, 0}, 0, 0x30},  // 0092
    {0, 0, {0, 0}, 0, 0x31},  // 0093
    {0, 0, {0, 0}, 0, 0x32},  // 0094
    {0, 0, {0, 0}, 0, 0x33},  // 0095
    {0, 0, {0, 0}, 0, 0x34},  // 0096
    {0, 0, {0, 0}, 0, 0x35},  // 0097
    {0, 0, {0, 0}, 0, 0x36},  // 0098
    {0, 0, {0, 0}, 0, 0x37},  // 0099
    {0, 0, {0, 0}, 0, 0x38},  // 009A
    {0, 0, {0, 0}, 0, 0x39},  // 009B
    {0, 0, {0, 0}, 0, 0x3a},  // 009C
    {0, 0, {0, 0}, 0, 0x3b},  // 009D
    {0, 0, {0, 0}, 0, 0x3c},  // 009E
    {0, 0, {0, 0}, 0, 0x3d},  // 009F
    {2, 1, {0x08, 0x02}, 0x02, 0},  // 00A0 no-break space
    {2, 1, {0x2b, 0x10}, 0x02, 0},  // 00A1 ¡
    {2, 1, {0x34, 0xa6}, 0x02, 0},  // 00A2 ¢
    {2, 1, {0x34, 0xa7}, 0x02, 0},  // 00A3 £
    {2, 1, {0x34, 0xa8}, 0x02, 0},  // 00A4 ¤
    {2, 1, {0x34, 0xa9}, 0x02, 0},  // 00A5 ¥
    {2, 1, {0x2b, 0x11}, 0x02, 0},  // 00A6 ¦
    {2, 1, {0x34, 0xaa}, 0x02, 0},  // 00A7 §
    {2, 1, {0x2b, 0x12}, 0x02, 0},  // 00A8 ¨
    {2, 1, {0x34, 0xab}, 0x02, 0},  // 00A9 ©
    {1, 1, {0x4a, 0x00}, 0x03, 0},  // 00AA ª
    {2, 1, {0x33, 0x05}, 0x02, 0},  // 00AB «
    {2, 1, {0x34, 0xac}, 0x02, 0},  // 00AC ¬
    {0, 0, {0, 0}, 0, 0x83},  // 00AD
    {2, 1, {0x34, 0xad}, 0x02, 0},  // 00AE ®
    {2, 1, {0x2b, 0x13}, 0x02, 0},  // 00AF ¯
    {2, 1, {0x34, 0xae}, 0x02, 0},  // 00B0 °
    {2, 1, {0x33, 0x04}, 0x02, 0},  // 00B1 ±
    {1, 1, {0x3a, 0x00}, 0x02, 0},  // 00B2 ²
    {1, 1, {0x3c, 0x00}, 0x02, 0},  // 00B3 ³
    {2, 1, {0x2b, 0x14}, 0x02, 0},  // 00B4 ´
    {2, 1, {0x34, 0xaf}, 0x02, 0},  // 00B5 µ
    {2, 1, {0x34, 0xb0}, 0x02, 0},  // 00B6 ¶
    {2, 1, {0x34, 0xb1}, 0x02, 0},  // 00B7 ·
    {2, 1, {0x2b, 0x15}, 0x02, 0},  // 00B8 ¸
    {1, 1, {0x38, 0x00}, 0x02, 0},  // 00B9 ¹
    {1, 1, {0x64, 0x00}, 0x03, 0},  // 00BA º
    {2, 1, {0x33, 0x07}, 0x02, 0},  // 00BB »
    {2, 1, {0x37, 0x12}, 0x02, 0},  // 00BC ¼
    {2, 1, {0x37, 0x16}, 0x02, 0},  // 00BD ½
    {2, 1, {0x37, 0x1a}, 0x02, 0},  // 00BE ¾
    {2, 1, {0x2b, 0x16}, 0x02, 0},  // 00BF ¿
    {1, 1, {0x4a, 0x00}, 0x0f, 0},  // 00C0 À
    {1, 1, {0x4a, 0x00}, 0x0e, 0},  // 00C1 Á
    {1, 1, {0x4a, 0x00}, 0x12, 0},  // 00C2 Â
    {1, 1, {0x4a, 0x00}, 0x19, 0},  // 00C3 Ã
    {1, 1, {0x4a, 0x00}, 0x13, 0},  // 00C4 Ä
    {1, 1, {0x4a, 0x00}, 0x1a, 0},  // 00C5 Å
    {2, 2, {0x4a, 0x51}, 0x02, 0},  // 00C6 Æ
    {1, 1, {0x4d, 0x00}, 0x1c, 0},  // 00C7 Ç
    {1, 1, {0x51, 0x00}, 0x0f, 0},  // 00C8 È
    {1, 1, {0x51, 0x00}, 0x0e, 0},  // 00C9 É
    {1, 1, {0x51, 0x00}, 0x12, 0},  // 00CA Ê
    {1, 1, {0x51, 0x00}, 0x13, 0},  // 00CB Ë
    {1, 1, {0x59, 0x00}, 0x0f, 0},  // 00CC Ì
    {1, 1, {0x59, 0x00}, 0x0e, 0},  // 00CD Í
    {1, 1, {0x59, 0x00}, 0x12, 0},  // 00CE Î
    {1, 1, {0x59, 0x00}, 0x13, 0},  // 00CF Ï
    {1, 1, {0x4f, 0x00}, 0x68, 0},  // 00D0 Ð
    {1, 1, {0x62, 0x00}, 0x19, 0},  // 00D1 Ñ
    {1, 1, {0x64, 0x00}, 0x0f, 0},  // 00D2 Ò
    {1, 1, {0x64, 0x00}, 0x0e, 0},  // 00D3 Ó
    {1, 1, {0x64, 0x00}, 0x12, 0},  // 00D4 Ô
    {1, 1, {0x64, 0x00}, 0x19, 0},  // 00D5 Õ
    {1, 1, {0x64, 0x00}, 0x13, 0},  // 00D6 Ö
    {2, 1, {0x33, 0x09}, 0x02, 0},  // 00D7 ×
    {1, 1, {0x64, 0x00}, 0x21, 0},  // 00D8 Ø
    {1, 1, {0x6f, 0x00}, 0x0f, 0},  // 00D9 Ù
    {1, 1, {0x6f, 0x00}, 0x0e, 0},  // 00DA Ú
    {1, 1, {0x6f, 0x00}, 0x12, 0},  // 00DB Û
    {1, 1, {0x6f, 0x00}, 0x13, 0},  // 00DC Ü
    {1, 1, {0x76, 0x00}, 0x0e, 0},  // 00DD Ý
    {2, 2, {0x6d, 0x57}, 0x02, 0},  // 00DE Þ
    {2, 2, {0x6b, 0x6b}, 0x02, 0},  // 00DF ß
    {1, 1, {0x4a, 0x00}, 0x0f, 0},  // 00E0 à
    {1, 1, {0x4a, 0x00}, 0x0e, 0},  // 00E1 á
    {1, 1, {0x4a, 0x00}, 0x12, 0},  // 00E2 â
    {1, 1, {0x4a, 0x00}, 0x19, 0},  // 00E3 ã
    {1, 1, {0x4a, 0x00}, 0x13, 0},  // 00E4 ä
    {1, 1, {0x4a, 0x00}, 0x1a, 0},  // 00E5 å
    {2, 2, {0x4a, 0x51}, 0x02, 0},  // 00E6 æ
    {1, 1, {0x4d, 0x00}, 0x1c, 0},  // 00E7 ç
    {1, 1, {0x51, 0x00}, 0x0f, 0},  // 00E8 è
    {1, 1, {0x51, 0x00}, 0x0e, 0},  // 00E9 é
    {1, 1, {0x51, 0x00}, 0x12, 0},  // 00EA ê
    {1, 1, {0x51, 0x00}, 0x13, 0},  // 00EB ë
    {1, 1, {0x59, 0x00}, 0x0f, 0},  // 00EC ì
    {1, 1, {0x59, 0x00}, 0x0e, 0},  // 00ED í
    {1, 1, {0x59, 0x00}, 0x12, 0},  // 00EE î
    {1, 1, {0x59, 0x00}, 0x13, 0},  // 00EF ï
    {1, 1, {0x4f, 0x00}, 0x68, 0},  // 00F0 ð
    {1, 1, {0x62, 0x00}, 0x19, 0},  // 00F1 ñ
    {1, 1, {0x64, 0x00}, 0x0f, 0},  // 00F2 ò
    {1, 1, {0x64, 0x00}, 0x0e, 0},  // 00F3 ó
    {1, 1, {0x64, 0x00}, 0x12, 0},  // 00F4 ô
    {1, 1, {0x64, 0x00}, 0x19, 0},  // 00F5 õ
    {1, 1, {0x64, 0x00}, 0x13, 0},  // 00F6 ö
    {2, 1, {0x33, 0x0a}, 0x02, 0},  // 00F7 ÷
    {1, 1, {0x64, 0x00}, 0x21, 0},  // 00F8 ø
    {1, 1, {0x6f, 0x00}, 0x0f, 0},  // 00F9 ù
    {1, 1, {0x6f, 0x00}, 0x0e, 0},  // 00FA ú
    {1, 1, {0x6f, 0x00}, 0x12, 0},  // 00FB û
    {1, 1, {0x6f, 0x00}, 0x13, 0},  // 00FC ü
    {1, 1, {0x76, 0x00}, 0x0e, 0},  // 00FD ý
    {2, 2, {0x6d, 0x57}, 0x02, 0},  // 00FE þ
    {1, 1, {0x76, 0x00}, 0x13, 0},  // 00FF ÿ
};

// General: primary weights of the characters seen, two bytes each.
struct GeneralCode {
  char32_t character;
  uint8_t primary[2];
};
constexpr GeneralCode kGeneral[] = {
    {U' ', {0x07, 0x02}}, {U'.', {0x07, 0x33}}, {U'0', {0x0d, 0x17}}, {U'1', {0x0d, 0x19}},
    {U'2', {0x0d, 0x1a}}, {U'3', {0x0d, 0x1b}}, {U'4', {0x0d, 0x1c}}, {U'5', {0x0d, 0x1d}},
    {U'6', {0x0d, 0x1e}}, {U'7', {0x0d, 0x1f}}, {U'8', {0x0d, 0x20}}, {U'9', {0x0d, 0x21}},
    {U'_', {0x07, 0x44}}, {U'a', {0x0e, 0x02}}, {U'b', {0x0e, 0x09}}, {U'c', {0x0e, 0x0a}},
    {U'd', {0x0e, 0x1a}}, {U'e', {0x0e, 0x21}}, {U'f', {0x0e, 0x23}}, {U'g', {0x0e, 0x25}},
    {U'h', {0x0e, 0x2c}}, {U'i', {0x0e, 0x32}}, {U'j', {0x0e, 0x35}}, {U'k', {0x0e, 0x36}},
    {U'l', {0x0e, 0x48}}, {U'm', {0x0e, 0x51}}, {U'n', {0x0e, 0x70}}, {U'o', {0x0e, 0x7c}},
    {U'p', {0x0e, 0x7e}}, {U'q', {0x0e, 0x89}}, {U'r', {0x0e, 0x8a}}, {U's', {0x0e, 0x91}},
    {U't', {0x0e, 0x99}}, {U'u', {0x0e, 0x9f}}, {U'v', {0x0e, 0xa2}}, {U'w', {0x0e, 0xa4}},
    {U'x', {0x0e, 0xa6}}, {U'y', {0x0e, 0xa7}},
};
// Special weights seen in General keys.
constexpr Code kGeneralControl3 = {0, 0, {0, 0}, 0, 0x05};  // U+0003

bool generalCode(char32_t c, Code* out) {
  if (c == 0x03) {
    *out = kGeneralControl3;
    return true;
  }
  // Case is not part of the key (seen for 22 of the letters).
  if (c >= U'A' && c <= U'Z') c = c - U'A' + U'a';
  auto it = std::lower_bound(std::begin(kGeneral), std::end(kGeneral), c,
                             [](const GeneralCode& g, char32_t x) { return g.character < x; });
  if (it == std::end(kGeneral) || it->character != c) return false;
  *out = {2, 1, {it->primary[0], it->primary[1]}, kNoDiacritic, 0};
  return true;
}

bool legacyCode(char32_t c, Code* out) {
  if (c == 0 || c > 0xFF) return false;
  *out = kLegacy[c - 1];
  return true;
}

[[noreturn]] void unverified(char32_t c, TextOrder order) {
  throw KeyError(describeCharacter(c) + "在排序规则“" + textOrderName(order) +
                     "”下的索引编码未经核实",
                 c);
}

}  // namespace

bool textOrderOf(uint16_t sortOrder, uint8_t version, TextOrder* out) {
  if (sortOrder != 0x0409) return false;
  if (version == 0) *out = TextOrder::GeneralLegacy;
  else if (version == 1) *out = TextOrder::General;
  else return false;
  return true;
}

std::string textOrderName(TextOrder order) {
  return order == TextOrder::General ? "常规" : "常规 - 旧版";
}

void appendTextSortKey(std::vector<uint8_t>& out, TextOrder order, std::string_view utf8) {
  std::u32string chars;
  if (!utf8CodePoints(utf8, &chars)) throw KeyError("文本不是有效的 UTF-8");
  std::vector<uint8_t> diacritics;
  std::vector<uint8_t> specials;
  size_t weights = 0;
  bool expanded = false;
  for (char32_t c : chars) {
    Code code;
    if (!(order == TextOrder::General ? generalCode(c, &code) : legacyCode(c, &code)))
      unverified(c, order);
    if (code.primaryLength == 0) {
      // Whether the place of a special weight counts the expanded letters
      // before it once or twice is not seen in any file.
      if (expanded) unverified(c, order);
      const uint16_t place = static_cast<uint16_t>(0x8000 | (7 + 4 * weights));
      specials.insert(specials.end(), {static_cast<uint8_t>(place >> 8),
                                       static_cast<uint8_t>(place), kSpecialKind, code.special});
      continue;
    }
    out.insert(out.end(), code.primary, code.primary + code.primaryLength);
    diacritics.push_back(code.diacritic);
    weights += code.weights;
    expanded = expanded || code.weights > 1;
  }
  while (!diacritics.empty() && diacritics.back() == kNoDiacritic) diacritics.pop_back();
  out.push_back(kSectionEnd);
  out.insert(out.end(), diacritics.begin(), diacritics.end());
  if (!specials.empty()) {
    // The case and the extra weights between are always empty here.
    out.insert(out.end(), {kSectionEnd, kSectionEnd, kSectionEnd});
    out.insert(out.end(), specials.begin(), specials.end());
  }
  out.push_back(kKeyEnd);
}

}  // namespace vov::access
