// The simulator's own camera: a moving test picture with a visible frame
// counter, encoded as JPEG. The same number always gives the same bytes.
#pragma once

#include <string>

struct TestPictureSize {
  int width = 320;
  int height = 240;
};

// The JPEG of picture `number` (its counter shows that number).
std::string MakeTestPicture(unsigned long number, TestPictureSize size,
                            int quality);
// A picture of one colour (0xRRGGBB) and nothing else, as JPEG.
std::string MakeSolidPicture(int colour, TestPictureSize size, int quality);
