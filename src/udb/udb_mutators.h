// The states of a field customisation.
#pragma once

namespace udb_mutators {
constexpr int changed = 1;  // renamed and/or retyped
constexpr int deleted = 2;  // the field is dropped
}  // namespace udb_mutators
