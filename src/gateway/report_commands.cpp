// The commands that report an aperture: the console report and the information matrix.
#include "apertures/report.h"
#include "core/errors.h"
#include "gateway/transducers.h"

void cmd_show(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Showing aperture. Calling xdc_show",
               "Internal Error 5: Too few parameters to show aperture");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  xdc_show(sys, ap, read_whole(args.arg(3), "The level"));
}

void cmd_get(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Getting aperture information. Calling xdc_get",
               "Internal Error 5: Too few parameters to xdc_get");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  const int32_t kind = read_whole(args.arg(3), "The kind of information");
  size_t rows, cols;
  if (!xdc_get_shape(ap, kind, rows, cols)) return;  // no result for an unknown kind
  mxArray* result = host_new_matrix(rows, cols);
  args.plhs[0] = result;
  xdc_get(sys, ap, kind, host_matrix_values(result), rows, cols);
}
