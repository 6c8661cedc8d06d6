// A read-only view of an (rows x cols) matrix of f32 or f64 values with any
// strides, as a NumPy array holds it. Rows are read as f32: f64 values are
// narrowed with round to nearest, ties to even (as one value at a time is).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mivo::collections {

enum class ValueType : std::uint8_t { F32, F64 };

struct MatrixRef {
    const std::byte* data = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::ptrdiff_t row_stride = 0;  // bytes
    std::ptrdiff_t col_stride = 0;  // bytes
    ValueType type = ValueType::F32;

    // Writes row i into out[0 .. cols).
    void row(std::size_t i, float* out) const {
        const std::byte* p = data + static_cast<std::ptrdiff_t>(i) * row_stride;
        if (type == ValueType::F32) {
            if (col_stride == static_cast<std::ptrdiff_t>(sizeof(float))) {
                if (cols) std::memcpy(out, p, cols * sizeof(float));  // out is null for an empty row
                return;
            }
            for (std::size_t j = 0; j < cols; ++j, p += col_stride) std::memcpy(&out[j], p, sizeof(float));
        } else {
            for (std::size_t j = 0; j < cols; ++j, p += col_stride) {
                double v;
                std::memcpy(&v, p, sizeof(double));
                out[j] = static_cast<float>(v);
            }
        }
    }
};

}  // namespace mivo::collections
