# Turns the firmware image file into writable storage with one spare byte after the image, which
# the even-length pad of the transfer phases may use.
set(ZQ_IMAGE_LENGTH 5695)

function(zq_embed_image input output)
  if(NOT EXISTS "${input}")
    message(FATAL_ERROR "Firmware image '${input}' does not exist (set ZQ_FIRMWARE_IMAGE).")
  endif()
  file(SIZE "${input}" size)
  if(NOT size EQUAL ZQ_IMAGE_LENGTH)
    message(FATAL_ERROR
      "Firmware image '${input}' holds ${size} bytes; the board's image is exactly "
      "${ZQ_IMAGE_LENGTH} bytes. Set ZQ_FIRMWARE_IMAGE to a file of that size.")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${input}")
  file(READ "${input}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  "
         bytes "${bytes}")
  file(CONFIGURE OUTPUT "${output}" CONTENT
"// Generated from ${input}; do not edit.
#include <cstdint>

namespace zq::detail {
// Writable, with one spare byte after the image for the even-length pad.
std::uint8_t builtInImageStorage[${ZQ_IMAGE_LENGTH} + 1] = {
  ${bytes}0x00};
}  // namespace zq::detail
")
endfunction()
