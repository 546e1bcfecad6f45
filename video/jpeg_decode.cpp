#include "video/jpeg_decode.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

struct t_Errors {
  jpeg_error_mgr pub;
  std::jmp_buf back;
};

[[noreturn]] void Stop(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<t_Errors *>(cinfo->err)->back, 1);
}

// Warnings go unsaid, as under FreeImage without a message handler.
void Quiet(j_common_ptr) {}

// Runs between setjmp and the error's longjmp: nothing here owns anything
// that needs destroying, and `out` lives outside.
bool Decode(jpeg_decompress_struct &cinfo, const unsigned char *bytes,
            std::size_t size, bool half, t_DecodedFrame &out) {
  jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
    return false;
  if (cinfo.num_components != 3 || (cinfo.jpeg_color_space != JCS_YCbCr &&
                                    cinfo.jpeg_color_space != JCS_RGB))
    return false;
  cinfo.scale_num = 1;
  cinfo.scale_denom = half ? 2 : 1;
  cinfo.dct_method = JDCT_IFAST;
  cinfo.do_fancy_upsampling = FALSE;
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  out.width = static_cast<int>(cinfo.output_width);
  out.height = static_cast<int>(cinfo.output_height);
  out.stride = static_cast<std::size_t>(cinfo.output_width) * 3;
  out.pixels.resize(out.stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[16];
    const JDIMENSION first = cinfo.output_scanline;
    JDIMENSION n = 0;
    for (; n < 16 && first + n < cinfo.output_height; ++n)
      rows[n] = out.pixels.data() + (first + n) * out.stride;
    if (jpeg_read_scanlines(&cinfo, rows, n) == 0)
      return false;
  }
  jpeg_finish_decompress(&cinfo);
  return true;
}

} // namespace

bool DecodeJpegBgr(const unsigned char *bytes, std::size_t size, bool half,
                   t_DecodedFrame &out) {
  if (bytes == nullptr || size == 0)
    return false;
  jpeg_decompress_struct cinfo;
  t_Errors errors;
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = Stop;
  errors.pub.output_message = Quiet;
  jpeg_create_decompress(&cinfo);
  volatile bool done = false;
  if (setjmp(errors.back) == 0)
    done = Decode(cinfo, bytes, size, half, out);
  jpeg_destroy_decompress(&cinfo);
  return done;
}
