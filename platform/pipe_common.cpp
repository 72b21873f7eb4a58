// Pipe code shared by both platforms.
#include "platform/pipe.h"

namespace qor::platform {

const char* PipeStatusName(PipeStatus status) {
    switch (status) {
        case PipeStatus::Ok: return "ok";
        case PipeStatus::NotFound: return "not found";
        case PipeStatus::Timeout: return "timed out";
        case PipeStatus::MoreData: return "more data";
        case PipeStatus::Broken: return "broken";
        case PipeStatus::TooLarge: return "too large";
        case PipeStatus::Failed: return "failed";
    }
    return "unknown";
}

}  // namespace qor::platform
