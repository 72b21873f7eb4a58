#include "lenssdk/weave_rows.h"

#include <algorithm>

namespace {
#include "lenssdk/weave_rows_impl.h"
}  // namespace

void lens::detail::WeaveRowBaseline(const RowJob& job) { WeaveRowDispatch(job); }
