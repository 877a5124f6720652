// The embedded host's extension interface: the subset of the MEX and MX calls that Orvel uses,
// with the same names and signatures as the published interface, implemented in
// embedded_host.cpp. The C++ tests (and later other front ends) load the module through it.
#pragma once

#include <cstddef>

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

extern "C" {
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

int mexPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void mexErrMsgTxt(const char* text);
int mexEvalString(const char* command);
int mexAtExit(void (*routine)(void));

double mxGetScalar(const mxArray* a);
double* mxGetPr(const mxArray* a);
size_t mxGetM(const mxArray* a);
size_t mxGetN(const mxArray* a);
int mxGetString(const mxArray* a, char* buf, mwSize buflen);
bool mxIsDouble(const mxArray* a);
bool mxIsComplex(const mxArray* a);
bool mxIsSparse(const mxArray* a);
bool mxIsChar(const mxArray* a);
mxArray* mxCreateDoubleMatrix(mwSize rows, mwSize cols, mxComplexity complexity);
void mxDestroyArray(mxArray* a);
}
