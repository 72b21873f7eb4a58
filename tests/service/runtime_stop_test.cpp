// Runtime stop frees what the running service holds, in order, without touching the
// display after the drivers are gone.
#include "platform/system.h"
#include "service/compositor/compositor.h"
#include "service/core/handle_counter.h"
#include "service/core/instance_registry.h"
#include "service/server/runtime.h"
#include "service/session/session_registry.h"
#include "service/session/space_table.h"
#include "service/session/swapchain.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace qor {
namespace {

TEST(RuntimeStopTest, EmptiesEveryRegistry) {
    test::TempEnvironment environment;
    ASSERT_TRUE(InstanceRegistry::Get().Create({platform::ProcessId(), 0}));
    auto session = std::make_shared<Session>();
    session->handle = NewHandle(kSessionHandleBase);
    {
        std::lock_guard lock(SessionRegistry::Get().Mutex());
        SessionRegistry::Get().SessionsLocked()[session->handle] = session;
    }
    SpaceInfo space;
    space.session = session->handle;
    const uint64_t spaceHandle = SpaceTable::Get().Insert(space);
    auto layer = std::make_unique<CompositorLayer>();
    layer->type = XR_TYPE_COMPOSITION_LAYER_QUAD;
    Compositor::Get().AddLayer(session->handle, std::move(layer));

    RuntimeStop();

    EXPECT_EQ(InstanceRegistry::Get().Count(), 0u);
    EXPECT_FALSE(SessionRegistry::Get().Find(session->handle));
    SpaceInfo found;
    EXPECT_FALSE(SpaceTable::Get().Find(spaceHandle, &found));
    EXPECT_EQ(Compositor::Get().QueuedLayers(), 0u);
}

}  // namespace
}  // namespace qor
