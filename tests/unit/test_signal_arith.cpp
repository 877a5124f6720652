// Signal arithmetic: sums on the grid, direct and decimated convolution, the FFT and its packed
// layout, and the FFT convolutions with their 1/fs scaling, against hand sums and naive
// transforms written here.
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/sys_con.h"
#include "harness.h"
#include "signal_checks.h"
#include "signals/fft.h"
#include "signals/signal_arith.h"
#include "signals/signal_store.h"

namespace {
using cplx = std::complex<long double>;
constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr long double pi_l = 3.141592653589793238462643383279502884L;

// The DFT with the positive exponent, X(k) = sum_j x(j) exp(+2 pi i j k / N), summed in long
// double with the angle reduced exactly, so that it is far more accurate than the code tested.
std::vector<cplx> naive_dft(const std::vector<cplx>& x, int sign) {
  const size_t N = x.size();
  std::vector<cplx> roots(N);  // exp(sign 2 pi i m / N)
  for (size_t m = 0; m < N; m++) {
    const long double angle = sign * 2 * pi_l * static_cast<long double>(m) / N;
    roots[m] = cplx(std::cos(angle), std::sin(angle));
  }
  std::vector<cplx> X(N);
  for (size_t k = 0; k < N; k++)
    for (size_t j = 0; j < N; j++) X[k] += x[j] * roots[j * k % N];
  return X;
}

// The packed layout of the forward DFT of N reals (x zero-padded to N).
std::vector<double> packed_dft(const std::vector<double>& x, size_t N) {
  std::vector<cplx> z(N);
  for (size_t j = 0; j < x.size(); j++) z[j] = x[j];
  const std::vector<cplx> X = naive_dft(z, +1);
  std::vector<double> p(N);
  p[0] = static_cast<double>(X[0].real());
  p[1] = static_cast<double>(X[N / 2].real());
  for (size_t k = 1; k < N / 2; k++) {
    p[2 * k] = static_cast<double>(X[k].real());
    p[2 * k + 1] = static_cast<double>(X[k].imag());
  }
  return p;
}

std::vector<double> naive_convolution(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> r(a.size() + b.size() - 1, 0.0);
  for (size_t k = 0; k < r.size(); k++) {
    double sum = 0.0;  // ascending i, as the time-domain convolutions sum
    const size_t first = k >= b.size() ? k - b.size() + 1 : 0, last = std::min(k + 1, a.size());
    for (size_t i = first; i < last; i++) sum += a[i] * b[k - i];
    r[k] = sum;
  }
  return r;
}

double abs_sum(const std::vector<double>& x) {
  double s = 0.0;
  for (double v : x) s += std::fabs(v);
  return s;
}

std::vector<double> random_values(std::mt19937& gen, size_t n) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> x(n);
  for (double& v : x) v = u(gen);
  return x;
}

// "A<no>" and "F<no>" for each allocation and release traced on the console, in order.
std::string trace_events(const std::string& console) {
  std::istringstream lines(console);
  std::string line, events;
  int no = 0;
  while (std::getline(lines, line)) {
    if (std::sscanf(line.c_str(), "Allocate signal %d, bytes", &no) == 1 &&
        line.find("bytes=") != std::string::npos)
      events += "A" + std::to_string(no) + " ";
    else if (std::sscanf(line.c_str(), "Free signal %d, bytes", &no) == 1)
      events += "F" + std::to_string(no) + " ";
  }
  return events;
}

class signal_arith_test : public orvel_test {
 protected:
  sys_con sys;
  signal_ptr make(const std::vector<double>& x, int32_t start) {
    signal_ptr s = alloc_signal(sys, static_cast<int32_t>(x.size()), start);
    for (size_t i = 0; i < x.size(); i++) s->data[i] = x[i];
    return s;
  }
  // Adds s times the values x, from grid sample start, into b on the grid of fs / D.
  void add(const std::vector<double>& x, int32_t start, signal_ptr& b, double s = 1.0,
           int32_t D = 1) {
    add_scaled_samples(sys, x.data(), start, static_cast<int32_t>(x.size()), b, s, D);
  }
  template <typename... T>
  void release(T&... s) {
    (free_signal(sys, s), ...);
    EXPECT_EQ(sys.bytes_reserved, 0);
  }
};
}  // namespace

TEST_F(signal_arith_test, AddedSamplesInsideTheReceiverAreAddedInPlace) {
  signal_ptr b = make({1, 2, 3, 4, 5, 6}, 10);
  const signal_rec* before = b.get();
  add({10, 20}, 12, b, 0.5, 4);
  // Ending exactly where the receiver ends is still inside; so is a zero-sample addend.
  add({100}, 15, b);
  add({}, 12, b);
  EXPECT_EQ(b.get(), before);
  EXPECT_EQ(b->fs, sys.fs);  // not made anew: its grid kept
  EXPECT_EQ(values(*b), (std::vector<double>{1, 2, 8, 14, 5, 106}));
  release(b);
}

TEST_F(signal_arith_test, AddedSamplesStickingOutReplaceTheReceiver) {
  sys.debug = 1;
  // Sticking out before the receiver: new span [-2, 4).
  signal_ptr b = make({1, 2, 3, 4}, 0);
  const int64_t old_no = b->signal_no;
  embedded_console_take();
  add({10, 20, 30}, -2, b);
  EXPECT_EQ(trace_events(embedded_console_take()),
            "A" + std::to_string(old_no + 1) + " F" + std::to_string(old_no) + " ");
  EXPECT_EQ(b->start_sample, -2);
  EXPECT_EQ(values(*b), (std::vector<double>{10, 20, 31, 2, 3, 4}));
  EXPECT_EQ(sys.bytes_reserved, b->bytes);  // the old receiver is uncharged
  // Sticking out after it, times 3: new span [-2, 7) on the grid of fs / 4.
  add({5, 6}, 5, b, 3, 4);
  EXPECT_EQ(b->fs, sys.fs / 4);
  EXPECT_EQ(values(*b), (std::vector<double>{10, 20, 31, 2, 3, 4, 0, 15, 18}));
  // Covering it on both sides.
  add(std::vector<double>(11, 1.0), -3, b);
  EXPECT_EQ(b->start_sample, -3);
  EXPECT_EQ(values(*b), (std::vector<double>{1, 11, 21, 32, 3, 4, 5, 1, 16, 19, 1}));
  // Zero-sample addends outside widen it too: the spans [10, 10) and [-5, -5).
  add({}, 10, b);
  add({}, -5, b);
  EXPECT_EQ(b->start_sample, -5);
  EXPECT_EQ(values(*b), (std::vector<double>{0, 0, 1, 11, 21, 32, 3, 4, 5, 1, 16, 19, 1, 0, 0}));
  // No receiver yet: one of the addend's span, on the grid of fs / D.
  signal_ptr none;
  add({1, 2}, -3, none, 2, 2);
  EXPECT_EQ(none->start_sample, -3);
  EXPECT_EQ(values(*none), (std::vector<double>{2, 4}));
  EXPECT_EQ(none->fs, sys.fs / 2);
  embedded_console_take();
  release(b, none);
}

// The time-domain convolutions on arrays: the plain sum of products (no factor 1/fs) in full,
// and times a scale at every D-th sample of the grid only.
TEST_F(signal_arith_test, TimeDomainConvolutionsAreThePlainSums) {
  std::mt19937 gen(7);
  const std::vector<double> xa = random_values(gen, 7), xb = random_values(gen, 4);
  const std::vector<double> full = naive_convolution(xa, xb);  // 10 samples
  std::vector<double> plain(10);
  convolve_plain(xa.data(), 7, xb.data(), 4, plain.data());
  EXPECT_EQ(plain, full);
  struct decimation {
    int32_t summed_start, D, start, k0;
  };
  // Start sums -5 (D = 2: ceil(-2.5) = -2, -4 + 5 = 1), 7 (D = 3: 3, 9 - 7 = 2), 6 (D = 3:
  // on the grid, k0 = 0), 4 (D = 1: every sample).
  for (const decimation& t : {decimation{-5, 2, -2, 1}, decimation{7, 3, 3, 2},
                              decimation{6, 3, 2, 0}, decimation{4, 1, 4, 0}}) {
    SCOPED_TRACE(t.D);
    EXPECT_EQ(decimated_start(t.summed_start, t.D), t.start);
    const int32_t count = 10 / t.D + 1;  // an upper bound: (Na + Nb - 1) div D + 1
    std::vector<double> out(count, -1.0);
    const double scale = 0.37;
    convolve_decimated_arrays(xa.data(), 7, xb.data(), 4, t.D, t.k0, count, scale, out.data());
    for (int32_t m = 0; m < count; m++) {
      const int32_t k = t.k0 + m * t.D;
      EXPECT_EQ(out[m], k < 10 ? scale * full[k] : 0.0) << m;
    }
  }
}

// The decimated sums of an operand split into phases are those of the full convolution, bit for
// bit, for every phase k0 of the first output, outputs in groups of 32 and 8 and one at a time,
// and operands shorter than the reach the split was made for.
TEST_F(signal_arith_test, PhasedConvolutionIsTheDecimatedConvolution) {
  std::mt19937 gen(11);
  for (int32_t D : {1, 2, 3, 5})
    for (int32_t na : {1, 7, 20})
      for (int32_t nb : {1, 13, 80}) {
        const int32_t reach = 20;
        const std::vector<double> a = random_values(gen, na), b = random_values(gen, nb);
        const std::vector<double> full = naive_convolution(a, b);
        std::vector<double> phased(phased_values(nb, reach, D));
        split_phases(b.data(), nb, reach, D, phased.data());
        const int32_t count = (na + nb - 1) / D + 1;
        for (int32_t k0 = 0; k0 < D; ++k0) {
          std::vector<double> out(count, -1.0);
          convolve_phased(a.data(), na, phased.data(), nb, reach, D, k0, count, out.data());
          for (int32_t m = 0; m < count; ++m) {
            const size_t k = k0 + m * D;
            ASSERT_EQ(out[m], k < full.size() ? full[k] : 0.0)
                << "D " << D << " na " << na << " nb " << nb << " k0 " << k0 << " m " << m;
          }
        }
      }
}

TEST_F(signal_arith_test, FftSizeIsTheNextPowerOfTwoFromFour) {
  EXPECT_EQ(fft_size(3, 0), 4);
  EXPECT_EQ(fft_size(0, 0), 4);
  EXPECT_EQ(fft_size(4, 0), 4);
  EXPECT_EQ(fft_size(5, 0), 8);
  EXPECT_EQ(fft_size(8, 0), 8);
  EXPECT_EQ(fft_size(9, 0), 16);
  EXPECT_EQ(fft_size(16, 0), 16);
  EXPECT_EQ(fft_size(0, 17), 32);
  EXPECT_EQ(fft_size(1024, 1025), 2048);
  EXPECT_EQ(fft_size(-5, 0), 4);
}

// A transform of N values sums N inputs through twiddle factors each made by a recurrence of at
// most N steps; N * eps * sum |x| bounds the rounding of every output.
TEST_F(signal_arith_test, PackedTransformIsThePackedDftAndBack) {
  std::mt19937 gen(13);
  for (int32_t N : {4, 8, 16, 64, 512, 4096}) {
    SCOPED_TRACE(N);
    const std::vector<double> x = random_values(gen, N - N / 4);  // zero-padded to N
    const std::vector<double> expected = packed_dft(x, N);
    const double tol = N * eps * abs_sum(x);
    std::vector<double> data(N);
    packed_forward(N, x.data(), static_cast<int32_t>(x.size()), data.data());
    for (int32_t i = 0; i < N; i++) EXPECT_NEAR(data[i], expected[i], tol) << i;
    // Back, in place: the forward error carried through a second transform of the same bound.
    packed_inverse(N, data.data(), data.data(), 1.0 / N);
    for (int32_t i = 0; i < N; i++) EXPECT_NEAR(data[i], i < N - N / 4 ? x[i] : 0.0, 2 * tol) << i;
  }
}

TEST_F(signal_arith_test, InverseSpectrumReturnsTheSignalInPlace) {
  const std::vector<double> x = {3.0, -1.0, 0.25, 2.0, 1.5};
  signal_ptr s = make(x, -4);
  signal_ptr S = signal_spectrum(sys, *s, 16);
  const int32_t bytes = S->bytes;
  inverse_spectrum(sys, *S, 5);
  EXPECT_EQ(S->no_samples, 5);
  EXPECT_EQ(S->data.size(), 16u);
  EXPECT_EQ(S->bytes, bytes);
  EXPECT_EQ(S->start_sample, -4);
  for (int i = 0; i < 16; i++)
    EXPECT_NEAR(S->data[i], i < 5 ? x[i] : 0.0, 2 * 16 * eps * abs_sum(x)) << i;
  release(s, S);  // uncharged by its allocated 16 samples
}

// The FFT path carries three transforms, each within N * eps of sum |a| * sum |b| after the
// product (a single sample on either side among them): 3 N eps sum |a| sum |b| / fs bounds the
// difference to the exact sum times 1/fs.
TEST_F(signal_arith_test, ConvolveFftIsTheDirectConvolutionOverFs) {
  // A fresh seed each run; ORVEL_TEST_SEED repeats a printed one.
  const char* fixed = std::getenv("ORVEL_TEST_SEED");
  const unsigned seed =
      fixed ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
  std::printf("ConvolveFftIsTheDirectConvolutionOverFs seed %u\n", seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 gen(seed);
  struct lengths {
    int32_t na, nb, N;  // N: the transform of at least Na + Nb points
  };
  for (auto [na, nb, N] :
       {lengths{1, 1, 4}, lengths{1, 7, 8}, lengths{10, 1, 16}, lengths{5, 4, 16}, lengths{2, 6, 8},
        lengths{100, 29, 256}, lengths{17, 33, 64}, lengths{100, 37, 256}, lengths{256, 256, 512},
        lengths{1000, 24, 1024}}) {
    SCOPED_TRACE(std::to_string(na) + " x " + std::to_string(nb));
    const std::vector<double> x = random_values(gen, na), y = random_values(gen, nb);
    signal_ptr a = make(x, 40), b = make(y, -13);
    signal_ptr r = convolve_fft(sys, a.get(), b.get());
    const std::vector<double> d = naive_convolution(x, y);
    EXPECT_EQ(r->start_sample, 27);
    ASSERT_EQ(r->no_samples, na + nb - 1);
    EXPECT_EQ(r->data.size(), static_cast<size_t>(N));
    const double tol = 3.0 * N * eps * abs_sum(x) * abs_sum(y) / sys.fs;
    for (int32_t i = 0; i < r->no_samples; i++) EXPECT_NEAR(r->data[i], d[i] / sys.fs, tol) << i;
    // An operand convolved with itself.
    signal_ptr self = convolve_fft(sys, a.get(), a.get());
    const std::vector<double> self_direct = naive_convolution(x, x);
    EXPECT_EQ(self->start_sample, 80);
    ASSERT_EQ(self->no_samples, 2 * na - 1);
    const double self_tol = 3.0 * fft_size(2 * na, 0) * eps * abs_sum(x) * abs_sum(x) / sys.fs;
    for (int32_t i = 0; i < self->no_samples; i++)
      EXPECT_NEAR(self->data[i], self_direct[i] / sys.fs, self_tol) << i;
    release(a, b, r, self);
  }
}

TEST_F(signal_arith_test, ConvolveFftWithAnAbsentOperandIsZeroOverTheOther) {
  signal_ptr s = make({1, 2, 3, 4, 5}, 12);
  for (bool a_absent : {true, false}) {
    signal_ptr r =
        a_absent ? convolve_fft(sys, nullptr, s.get()) : convolve_fft(sys, s.get(), nullptr);
    EXPECT_EQ(r->start_sample, 12);
    EXPECT_EQ(values(*r), std::vector<double>(5, 0.0));
    free_signal(sys, r);
  }
  signal_ptr none = convolve_fft(sys, nullptr, nullptr);
  EXPECT_EQ(none->no_samples, 0);
  EXPECT_EQ(none->start_sample, 0);
  release(s, none);
}

TEST_F(signal_arith_test, ConvolveFftReleasesItsSpectraInOrder) {
  signal_ptr a = make({1, 2}, 0), b = make({3, 4, 5}, 0);
  const int32_t n = sys.next_signal_no;  // spectrum of a, of b, then the product
  sys.debug = 1;
  signal_ptr r = convolve_fft(sys, a.get(), b.get());
  const auto no = [n](int k) { return std::to_string(n + k); };
  EXPECT_EQ(trace_events(embedded_console_take()),
            "A" + no(0) + " A" + no(1) + " A" + no(2) + " F" + no(1) + " F" + no(0) + " ");
  EXPECT_EQ(r->signal_no, n + 2);
  release(a, b, r);
  embedded_console_take();
}

// The convolutions of the calculations against the plain sum: both ways of the cost model
// (direct sums for a short operand, transforms for two long ones), every tail of the groups of
// eight and thirty-two outputs, a long operand summed window by window, a pulse spectrum kept per
// size, a response squared, and the added form with its weight.
TEST_F(signal_arith_test, CalculationConvolutionsAreThePlainSumOverFs) {
  std::mt19937 gen(37);
  const double dt = 1 / sys.fs;
  spectral_scratch s;
  bool direct = false, transformed = false;
  for (auto [na, nb] : {std::pair{1, 1},
                        {7, 1},
                        {33, 5},
                        {40, 40},
                        {95, 14},
                        {600, 15},
                        {613, 31},
                        {700, 600},
                        {2000, 90},
                        {200000, 3}}) {  // direct sums over several windows of the output
    SCOPED_TRACE(std::to_string(na) + " x " + std::to_string(nb));
    const std::vector<double> a = random_values(gen, na), b = random_values(gen, nb);
    const std::vector<double> plain = naive_convolution(a, b);
    const int32_t L = fft_size(na + nb, 0);
    (direct_is_cheaper(na, nb, L, 3) ? direct : transformed) = true;
    // Rounding of a sum of products, or of three transforms of L values (L eps each).
    const double tol = (na + nb + 3.0 * L) * eps * abs_sum(a) * abs_sum(b) * dt;
    spectrum_cache b_spectra(b.data(), nb);
    std::vector<double> out(plain.size()), kept(plain.size());
    convolve_arrays(a.data(), na, b.data(), nb, dt, nullptr, s, out.data());
    convolve_arrays(a.data(), na, b.data(), nb, dt, &b_spectra, s, kept.data());
    std::vector<double> added(plain.size(), 1.0);  // a sum the convolution is added into
    const double weight = -2.5;
    convolve_add(a.data(), na, b.data(), nb, dt, weight, s, added.data());
    // The operand between zeros, as the transmit responses are kept.
    std::vector<double> padded(static_cast<size_t>(na + 2 * nb + 8), 0.0);
    std::copy(a.begin(), a.end(), padded.begin() + (nb - 1));
    std::vector<double> direct_out(plain.size());
    convolve_padded(padded.data() + (nb - 1), na, b.data(), nb, dt, false, 0.0, direct_out.data());
    for (size_t k = 0; k < plain.size(); ++k) {
      ASSERT_NEAR(out[k], plain[k] * dt, tol) << k;
      ASSERT_NEAR(kept[k], plain[k] * dt, tol) << k;
      ASSERT_NEAR(added[k], 1.0 + weight * plain[k] * dt, 2.5 * tol + eps) << k;
      ASSERT_NEAR(direct_out[k], plain[k] * dt, tol) << k;
    }
  }
  EXPECT_TRUE(direct && transformed);  // both ways were taken
  // A response squared (the same array twice) takes one transform for both operands.
  const std::vector<double> h = random_values(gen, 900);
  const std::vector<double> square = naive_convolution(h, h);
  std::vector<double> out(square.size());
  convolve_arrays(h.data(), 900, h.data(), 900, dt, nullptr, s, out.data());
  for (size_t k = 0; k < square.size(); ++k)
    ASSERT_NEAR(out[k], square[k] * dt, 3 * 2048 * eps * abs_sum(h) * abs_sum(h) * dt) << k;
}
