// Runtime stop frees what the running service holds, in order, without touching the
// display after the drivers are gone.
#include "platform/system.h"
#include "service/core/handle_counter.h"
#include "service/server/service_state.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace qor {
namespace {

TEST(RuntimeStopTest, FreesEveryRecord) {
    test::TempEnvironment environment;
    auto state = std::make_unique<ServiceState>();
    const std::weak_ptr<InstanceRecord> instance = state->instances.Create({platform::ProcessId(), 0});
    ASSERT_FALSE(instance.expired());
    auto session = std::make_shared<Session>();
    session->handle = state->handles.New(kSessionHandleBase);
    session->instanceRecord = instance;
    {
        std::lock_guard lock(state->sessions.Mutex());
        state->sessions.SessionsLocked()[session->handle] = session;
    }
    SpaceInfo space;
    space.session = session->handle;
    ASSERT_NE(state->spaces.Insert(space), 0u);
    const std::weak_ptr<Session> sessionRecord = session;
    session.reset();

    state.reset();

    EXPECT_TRUE(instance.expired());
    EXPECT_TRUE(sessionRecord.expired());
}

}  // namespace
}  // namespace qor
