// Texts the dataset hands to the engine for filters and record search.
#ifndef CHECKER_KIVFILTER_H
#define CHECKER_KIVFILTER_H

#include <cstdint>
#include <string>

namespace checker {

// The wildcard pass over a filter text. Inside a quoted literal ("..." or
// '...') a '*' right before the closing quote is removed and `exact` set to
// 0, unless the literal holds nothing but '*'. The arguments of
// CONTAINS(...) are left alone. Other text is unchanged.
std::string StripFilterWildcards(const std::string& text, uint16_t& exact);

// Whether the key fields (names split at ';') can seek on an index with
// these segment fields: every key field is one of the first 100 segments
// (names compared without case) and together they cover the segments from
// the first up to the last one used. `lastSegment` becomes that last
// segment's name, upper-cased.
bool MatchKeyFieldsToIndex(const std::string& indexFields, const std::string& keyFields,
                           std::string& lastSegment);

}  // namespace checker

#endif
