#pragma once
// Short constructors for the field tables. Floats keep `bits` mantissa bits: 10 unless said,
// 23 (full precision) for `full` and for model values unless said.
#include <string_view>

#include "catalogue.h"

namespace make_example::fields {

using rootio::LeafType;
using S = Shape;

inline Field f(std::string_view name, Shape shape, float a = 0, float b = 0, int8_t bits = 10)
{
    return {name, LeafType::Float, shape, a, b, bits};
}
inline Field full(std::string_view name, Shape shape, float a = 0, float b = 0)
{
    return f(name, shape, a, b, 23);
}
inline Field i32(std::string_view name, Shape shape, float a = 0, float b = 0)
{
    return {name, LeafType::Int32, shape, a, b};
}
inline Field u8(std::string_view name, Shape shape, float a = 0, float b = 0)
{
    return {name, LeafType::UInt8, shape, a, b};
}
inline Field flag(std::string_view name, float p)
{
    return {name, LeafType::Bool, Shape::Bool, p, 0};
}
inline Field model(std::string_view name, LeafType type, int8_t bits = 23)
{
    return {name, type, Shape::Model, 0, 0, bits};
}

}  // namespace make_example::fields
