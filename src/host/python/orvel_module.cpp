// The module as a Python extension, orvel._orvel: the third host beside Octave's MEX interface
// and the embedded one, built on the embedded host's matrices. numpy arrays and Python numbers
// and texts go in as host matrices, the results come back as float64 arrays, the console goes
// to sys.stdout as it is printed, an error of the module is raised as OrvelError with its text,
// and a Ctrl-C pressed during a command stops it and is raised as KeyboardInterrupt.
//
// One system per process, as in Octave. The GIL is released while a command runs (other Python
// threads go on); the console and the Ctrl-C poll take it back, and they are only ever called
// on the thread that runs the command. Commands from several Python threads run one at a time.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command_turn.h"
#include "embedded_host.h"

namespace py = pybind11;

namespace {

PyObject* orvel_error = nullptr;  // the exception class OrvelError, kept for the process

// A Ctrl-C seen by a poll: the Python exception its handler raised, kept (and cleared, so that
// the console can still be written) until the command has ended.
std::optional<py::error_already_set> pending_signal;

void to_stdout(const std::string& text) {
  py::gil_scoped_acquire gil;
  if (pending_signal) return;  // the command is ending; Python is not called with it pending
  // A stream that fails (a closed pipe) loses the text; the command goes on.
  try {
    py::object out = py::module_::import("sys").attr("stdout");
    if (out.is_none()) return;
    out.attr("write")(text);
    out.attr("flush")();
  } catch (py::error_already_set&) {
  }
}

bool signal_pending() {
  py::gil_scoped_acquire gil;
  if (pending_signal) return false;  // taken once; the command is stopping
  if (PyErr_CheckSignals() == 0) return false;
  pending_signal.emplace();  // fetches and clears the exception raised by the handler
  return true;
}

// Host code the module asks to run: the logo of orvel_init(mode > 0) is the package's own
// orvel_logo; the redraws that keep Octave's figures alive have nothing to do here.
void evaluate(const std::string& command) {
  if (command.rfind("orvel_logo", 0) != 0) return;
  py::gil_scoped_acquire gil;
  if (pending_signal) return;
  try {
    py::module_::import("orvel").attr("orvel_logo")();
  } catch (py::error_already_set&) {
    // Without the package (the extension used alone) there is no logo to show.
  }
}

// One argument as a host matrix: a number as 1 x 1, a text, or a float64 array of at most two
// dimensions (1-d as a row, 0-d as 1 x 1), in any memory order. An array is read in place when
// it is column-major already, else from a column-major copy; keep holds it (or the copy) until
// the command is over.
mxArray* to_host(const py::handle& a, size_t position, std::vector<py::object>& keep) {
  if (py::isinstance<py::bool_>(a))
    throw py::type_error("argument " + std::to_string(position) +
                         ": a bool is not a number here; give 0.0 or 1.0");
  if (py::isinstance<py::int_>(a) || py::isinstance<py::float_>(a)) {
    const double v = PyFloat_AsDouble(a.ptr());  // an int beyond every double fails here
    if (v == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      throw py::value_error("argument " + std::to_string(position) +
                            ": the int is too large for a float");
    }
    return embedded_scalar(v);
  }
  if (py::isinstance<py::str>(a)) return embedded_text(a.cast<std::string>());
  if (py::isinstance<py::array>(a)) {
    py::array arr = py::reinterpret_borrow<py::array>(a);
    if (!arr.dtype().is(py::dtype::of<double>()))
      throw py::type_error("argument " + std::to_string(position) +
                           ": an array must be of dtype float64, not " +
                           py::str(arr.dtype()).cast<std::string>());
    if (arr.ndim() > 2)
      throw py::value_error("argument " + std::to_string(position) +
                            ": an array must have at most 2 dimensions, not " +
                            std::to_string(arr.ndim()));
    const size_t rows = arr.ndim() == 2 ? static_cast<size_t>(arr.shape(0)) : 1;
    const size_t cols = arr.ndim() == 2   ? static_cast<size_t>(arr.shape(1))
                        : arr.ndim() == 1 ? static_cast<size_t>(arr.shape(0))
                                          : 1;
    // Column-major, as the host keeps matrices.
    auto f = py::array_t<double, py::array::f_style | py::array::forcecast>::ensure(arr);
    keep.push_back(f);
    return embedded_matrix_view(rows, cols, f.data());
  }
  throw py::type_error("argument " + std::to_string(position) +
                       ": expected a number, a str or a float64 numpy array, not " +
                       py::str(py::type::of(a).attr("__name__")).cast<std::string>());
}

py::object to_python(const mxArray* m) {
  const size_t rows = mxGetM(m), cols = mxGetN(m);
  py::array_t<double, py::array::f_style> out({rows, cols});
  if (rows * cols > 0) std::memcpy(out.mutable_data(), mxGetPr(m), rows * cols * sizeof(double));
  return out;
}

command_turn commands;  // one command at a time

// Calls the module as the host does: Orvel_mex(code, args...) with nout results (0 for none).
py::tuple call(double code, const py::args& args, int nout) {
  // No command gives more than two results (a calculation's signals and start time).
  if (nout < 0 || nout > 2)
    throw py::value_error("nout must be 0, 1 or 2 (no command gives more results), not " +
                          std::to_string(nout));
  std::vector<py::object> keep;  // the arrays the host matrices read, alive until the end
  std::vector<mxArray*> in;
  struct holder {  // the host matrices of one call, destroyed however it ends
    std::vector<mxArray*>& v;
    ~holder() {
      for (mxArray* a : v) mxDestroyArray(a);
    }
  } hold_in{in};
  in.push_back(embedded_scalar(code));
  for (size_t k = 0; k < args.size(); ++k) in.push_back(to_host(args[k], k + 1, keep));
  std::vector<mxArray*> out(static_cast<size_t>(nout > 1 ? nout : 1), nullptr);
  holder hold_out{out};

  std::string error;
  bool failed = false;
  {
    py::gil_scoped_release nogil;
    // A call made from the console's own Python code runs on the command's thread and meets
    // the module's refusal of calls during a command; any other waits for its turn.
    command_turn::scope turn(commands);
    try {
      mexFunction(nout, out.data(), static_cast<int>(in.size()),
                  const_cast<const mxArray**>(in.data()));
    } catch (const embedded_host_error& e) {
      failed = true;
      error = e.what();
    }
  }
  embedded_evaluations_take();  // the redraws asked for; nothing to do in Python
  if (pending_signal) {
    py::error_already_set e = std::move(*pending_signal);
    pending_signal.reset();
    throw e;
  }
  if (failed) {
    PyErr_SetString(orvel_error, error.c_str());
    throw py::error_already_set();
  }
  py::list results;
  for (int k = 0; k < nout; ++k) results.append(out[k] ? to_python(out[k]) : py::none());
  return py::tuple(results);
}

// At interpreter exit: the system is released without the messages of an abnormal end.
void release_at_exit() {
  embedded_on_output([](const std::string&) {});
  embedded_on_poll({});
  embedded_on_evaluation({});
  embedded_unload();
}

}  // namespace

PYBIND11_MODULE(_orvel, m) {
  m.doc() =
      "The Orvel module itself: call(code, *args, nout=1) runs one command as the Octave "
      "script layer does; the package orvel wraps it in the commands.";
  orvel_error = PyErr_NewExceptionWithDoc("orvel._orvel.OrvelError",
                                          "An error of the Orvel module; its text is the module's.",
                                          PyExc_Exception, nullptr);
  if (!orvel_error) throw py::error_already_set();
  m.attr("OrvelError") = py::handle(orvel_error);
  embedded_on_output(to_stdout);
  embedded_on_poll(signal_pending);
  embedded_on_evaluation(evaluate);
  m.def("call", &call, py::arg("code"), py::arg("nout") = 1,
        "Runs command code with the arguments that follow (numbers, str, float64 arrays of at "
        "most 2 dimensions; a 1-d array is a row) and returns a tuple of nout (0 to 2) float64 "
        "arrays (None where the command gave no result). Errors of the module raise "
        "OrvelError.");
  py::module_::import("atexit").attr("register")(py::cpp_function(release_at_exit));
}
