// The 27 skin elements: their names, their fixed indices and the size and
// depth of the built-in images. Free of any platform type, so the generator
// of the built-in skin (tools/skingen) shares this one table.
#pragma once

inline constexpr int kSkinCount = 27;

// Every other module addresses an element by these indices.
enum SkinIndex {
  SKIN_L = 0,
  SKIN_R = 1,
  SKIN_T = 2,
  SKIN_B = 3,
  SKIN_TL = 4,
  SKIN_TR = 5,
  SKIN_BR = 6,
  SKIN_BL_OFF = 7,
  SKIN_B1_UP = 8,
  SKIN_B2_UP = 9,
  SKIN_BL_ON = 10,
  SKIN_B1_OVER = 11,
  SKIN_B2_OVER = 12,
  SKIN_B1_DOWN = 13,
  SKIN_B2_DOWN = 14,
  SKIN_TR_S = 15,
  SKIN_TR_M = 16,
  SKIN_TR_C = 17,
  SKIN_POZADI = 18,
  SKIN_BL_OVER = 19,
  SKIN_BL_DOWN = 20,
  SKIN_B3_OVER = 21,
  SKIN_B4_OVER = 22,
  SKIN_B3_DOWN = 23,
  SKIN_B4_DOWN = 24,
  SKIN_B3_UP = 25,
  SKIN_B4_UP = 26,
};

// Element names, also the stems of the override files "Skin/<name>.bmp".
inline constexpr const char *NameBMP[kSkinCount] = {
    "l",        "r",          "t",          "b",          "tl",
    "tr",       "br",         "bl_off",     "br_b1_up",   "br_b2_up",
    "bl_on",    "br_b1_over", "br_b2_over", "br_b1_down", "br_b2_down",
    "tr_s",     "tr_m",       "tr_c",       "pozadi",     "bl_over",
    "bl_down",  "br_b3_over", "br_b4_over", "br_b3_down", "br_b4_down",
    "br_b3_up", "br_b4_up"};

// Built-in images are resources 140 to 166, one per index.
inline constexpr int kSkinFirstResourceId = 140;

struct t_SkinBuiltin {
  int width;
  int height;
  int bitsPerPixel;
};

inline constexpr t_SkinBuiltin kSkinBuiltin[kSkinCount] = {
    {8, 100, 24}, {8, 100, 24}, {128, 26, 24}, {24, 35, 24},  {80, 26, 24},
    {70, 26, 24}, {16, 35, 24}, {31, 35, 32},  {73, 35, 24},  {73, 35, 24},
    {31, 35, 32}, {73, 35, 24}, {73, 35, 24},  {73, 35, 24},  {73, 35, 24},
    {70, 26, 24}, {70, 26, 24}, {70, 26, 24},  {320, 240, 8}, {31, 35, 32},
    {31, 35, 32}, {73, 35, 32}, {73, 35, 24},  {73, 35, 24},  {73, 35, 24},
    {73, 35, 32}, {73, 35, 24}};
