// Attribute names compare without regard to letter case: this turns a name into its case-folded key.
#pragma once

#include <string>
#include <string_view>

namespace Varnel::Ldap {

/// The case-folded form of `name` (UTF-8 in, UTF-8 out). ASCII names take a fast path; other names are
/// folded with ICU's full case folding. Two names are the same name exactly when their keys are equal.
std::string foldName(std::string_view name);

/// True when `a` and `b` are the same name without regard to letter case.
bool sameName(std::string_view a, std::string_view b);

}  // namespace Varnel::Ldap
