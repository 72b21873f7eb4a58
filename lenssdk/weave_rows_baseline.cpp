#include "lenssdk/weave_rows.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {
#include "lenssdk/weave_rows_impl.h"
}  // namespace

void lens::detail::WeaveRowBaseline(const RowJob& job) { WeaveRowPortable(job, 0); }
