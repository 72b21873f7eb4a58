// The registered window messages that go to the weaving window beside the pipe traffic: the
// driver's close request and the window service's new shared handle.
#pragma once

#include <cstdint>
#include <string_view>

namespace qor::winpipe {

// The weaving window's class; its top-level window is the one the messages go to.
inline constexpr std::string_view kWeavingWindowClass = "Plexaview";
inline constexpr std::string_view kCloseMessageName = "PlexaCloseMSG";
inline constexpr std::string_view kHandleMessageName = "PlexaMSG";

// The numbers of the two messages, each registered once per process.
uint32_t CloseMessage();
uint32_t HandleMessage();

// Posts "PlexaCloseMSG" with wParam 0 and lParam 0 to the top-level window of class
// "Plexaview"; false when there is no such window or the post fails.
bool PostCloseToWeavingWindow();
// Posts "PlexaMSG" with wParam 0 and lParam the shared handle's low 32 bits to the window of
// class "Plexaview"; false as above.
bool PostHandleToWeavingWindow(uint64_t sharedHandle);

}  // namespace qor::winpipe
