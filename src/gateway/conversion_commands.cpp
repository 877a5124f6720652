// The commands that convert an existing aperture of rectangles to triangles or to bounding-line
// elements, in place.
#include "core/errors.h"
#include "elements/convert.h"
#include "gateway/arguments.h"
#include "gateway/transducers.h"

void cmd_convert(sys_con& sys, const command_args& args) {
  open_command(sys, args, 2, "Converting aperture to triangles. Calling xdc_convert",
               "Internal Error 5: Too few parameters to convert aperture to triangles");
  const double handle = read_number(args.arg(2), "The aperture handle");
  // This command has always named a freed aperture in words of its own.
  const int32_t h = handle_index(handle);
  if (h >= 0 && h < sys.no_apertures && !sys.apertures[static_cast<size_t>(h)])
    throw command_error("Orvel error: This aperture has been free_d and is not defined");
  convert_to_triangles(lookup_aperture(sys, handle));
}

void cmd_line_convert(sys_con& sys, const command_args& args) {
  open_command(sys, args, 2, "Converting aperture to lines. Calling xdc_line_convert",
               "Internal Error 5: Too few parameters to convert aperture to lines");
  convert_to_lines(lookup_aperture(sys, args.arg(2)));
}
