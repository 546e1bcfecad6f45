// A frame's JPEG decoded straight into the rows the stretch takes: B, G, R
// bytes, top row first. The pixels are those FreeImage's loader gives for
// the same bytes and size: it decodes through the same libjpeg with the same
// settings (the fast integer transform, plain upsampling) into a bitmap it
// first clears, and then swaps red and blue in every pixel; here libjpeg
// writes blue first as it converts, into a buffer kept from frame to frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct t_DecodedFrame {
  std::vector<std::uint8_t> pixels; // kept from frame to frame
  int width = 0;
  int height = 0;
  std::size_t stride = 0; // bytes from one row to the next
};

// Decodes `size` bytes, at half size (each side rounded up) with `half`.
// False, with `out` undefined, for a picture that is not three-component
// colour (grey, CMYK...) and for any picture libjpeg stops on with an error:
// those take FreeImage's own road, so that whatever it makes of them is
// what is shown. Warnings (corrupt or missing data) are not errors: libjpeg
// decodes on, as it does under FreeImage.
bool DecodeJpegBgr(const unsigned char *bytes, std::size_t size, bool half,
                   t_DecodedFrame &out);
