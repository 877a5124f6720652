// Short vectors of doubles for the hot kernels, through GCC's vector extensions: each operation
// acts on every lane as the scalar operation would, so a kernel written with them gives the
// numbers of its scalar form. Loaded and stored at any address of a double.
#pragma once

using lanes4 =
    double __attribute__((vector_size(4 * sizeof(double)), aligned(sizeof(double)), may_alias));
using lanes8 =
    double __attribute__((vector_size(8 * sizeof(double)), aligned(sizeof(double)), may_alias));
using lane_index4 = long long __attribute__((vector_size(4 * sizeof(long long))));

template <class V>
inline const V& lanes_at(const double* p) {
  return *reinterpret_cast<const V*>(p);
}
template <class V>
inline V& lanes_at(double* p) {
  return *reinterpret_cast<V*>(p);
}
