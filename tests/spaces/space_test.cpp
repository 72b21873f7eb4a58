// Reference and action spaces, xrLocateSpace and xrLocateViews through the dispatcher, with
// the eyes of a display component the test controls.
#include "tests/spaces/fixture.h"

#include <cstring>

namespace qor::test {
namespace {

constexpr float kHalf = 0.70710678f;  // sin and cos of 45 degrees
constexpr XrQuaternionf kIdentity {0, 0, 0, 1};
constexpr XrQuaternionf kQuarterTurnX {kHalf, 0, 0, kHalf};
constexpr XrQuaternionf kQuarterTurnY {0, kHalf, 0, kHalf};

void ExpectPose(const XrPosef& actual, const XrPosef& expected) {
    float a[7];
    float e[7];
    static_assert(sizeof(XrPosef) == sizeof a);
    std::memcpy(a, &actual, sizeof a);
    std::memcpy(e, &expected, sizeof e);
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(a[i], e[i], 1e-5f) << "component " << i;
}

XrQuaternionf Multiply(const XrQuaternionf& l, const XrQuaternionf& r) {
    return {l.w * r.x + l.x * r.w + l.y * r.z - l.z * r.y, l.w * r.y - l.x * r.z + l.y * r.w + l.z * r.x,
            l.w * r.z + l.x * r.y - l.y * r.x + l.z * r.w, l.w * r.w - l.x * r.x - l.y * r.y - l.z * r.z};
}

// The test's own rigid composition: `inner` given in the frame of `outer` (q v q*).
XrPosef Compose(const XrPosef& outer, const XrPosef& inner) {
    const XrQuaternionf& q = outer.orientation;
    const XrQuaternionf v = Multiply(Multiply(q, {inner.position.x, inner.position.y, inner.position.z, 0}), {-q.x, -q.y, -q.z, q.w});
    return {Multiply(q, inner.orientation), {outer.position.x + v.x, outer.position.y + v.y, outer.position.z + v.z}};
}

class Hooks final : public ActionSpaceChecks {
public:
    XrResult check = XR_SUCCESS;
    bool hasPose = true;
    XrPosef device {kIdentity, {0, 0, 0}};
    std::map<uint64_t, uint64_t> remembered;  // action → space
    XrResult CheckPoseAction(uint32_t, uint64_t, uint64_t) override { return check; }
    void RememberSpace(uint64_t action, uint64_t space) override { remembered[action] = space; }
    bool CurrentPose(uint64_t, uint64_t, XrPosef* pose) override { return *pose = device, hasPose; }
};

class SpaceTest : public ServiceFixture {
protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        session_ = AddSession();
        eyes_.SetEyes(kIdentity, {-0.03f, 0, 0.6f}, {0.03f, 0, 0.6f});
    }
    void TearDown() override {
        state_.spaces.SetActionSpaceChecks(nullptr);
        ServiceFixture::TearDown();
    }
    Answer CreateReference(uint32_t type, XrPosef pose = {kIdentity, {0, 0, 0}}, uint64_t session = 0) {
        return Send(CreateReferenceSpaceRequest {session != 0 ? session : session_->handle,
                                                 {XR_TYPE_REFERENCE_SPACE_CREATE_INFO, 0}, type, pose});
    }
    uint64_t Reference(uint32_t type, XrPosef pose = {kIdentity, {0, 0, 0}}) { return HandleOf(CreateReference(type, pose)); }
    Answer CreateAction(uint64_t action, uint64_t path = 0, XrPosef pose = {kIdentity, {0, 0, 0}}) {
        return Send(CreateActionSpaceRequest {session_->handle, {XR_TYPE_ACTION_SPACE_CREATE_INFO, 0}, action, path, pose});
    }
    std::pair<XrResult, SpaceLocationRecord> Locate(uint64_t space, uint64_t base, uint64_t next = 0) {
        const Answer answer = Send(LocateSpaceRequest {space, base, 123, XR_TYPE_SPACE_LOCATION, next});
        SpaceLocationRecord record;
        if (answer.reply.size() > 4) record = Decode<SpaceLocationRecord>(answer);
        return {answer.result, record};
    }
    struct Views {
        ViewStateRecord viewState;
        uint32_t count = 0;
        std::vector<ViewRecord> views;
    };
    std::pair<XrResult, Views> LocateViews(uint64_t space, uint32_t capacity) {
        const Answer answer = Send(LocateViewsRequest {session_->handle, {XR_TYPE_VIEW_LOCATE_INFO, 0},
                                                       XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, 0, space, capacity});
        Views views;
        if (answer.reply.size() > 4) {
            const auto reply = Decode<LocateViewsReply>(answer);
            views = {reply.viewState, reply.count, {reply.views.items.begin(), reply.views.items.end()}};
        }
        return {answer.result, views};
    }

    std::shared_ptr<Session> session_;
};

TEST_F(SpaceTest, SessionsOfferViewAndLocalWithBoundsUnavailable) {
    const uint64_t session = session_->handle;
    const Answer query = Send(EnumerateReferenceSpacesRequest {session, 0});
    EXPECT_EQ(Decode<EnumerateReferenceSpacesReply>(query).count, 2u);
    const Answer small = Send(EnumerateReferenceSpacesRequest {session, 1});
    EXPECT_EQ(small.result, XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(Decode<EnumerateReferenceSpacesReply>(small).count, 2u);
    const auto list = Decode<EnumerateReferenceSpacesReply>(Send(EnumerateReferenceSpacesRequest {session, 2}));
    EXPECT_EQ(std::vector<uint32_t>(list.items.items.begin(), list.items.items.end()), std::vector<uint32_t>({1, 2}));
    EXPECT_EQ(Send(EnumerateReferenceSpacesRequest {session + 999, 2}).result, XR_ERROR_HANDLE_INVALID);

    for (uint32_t type : {1u, 2u, 3u}) {
        const Answer bounds = Send(GetReferenceSpaceBoundsRectRequest {session, type});
        EXPECT_EQ(bounds.result, XR_SPACE_BOUNDS_UNAVAILABLE);
        ASSERT_EQ(bounds.reply.size(), 12u);
        EXPECT_EQ(Decode<GetReferenceSpaceBoundsRectReply>(bounds).bounds.width, 0.0f);
        EXPECT_EQ(Decode<GetReferenceSpaceBoundsRectReply>(bounds).bounds.height, 0.0f);
    }
    for (uint32_t type : {0u, 4u, 1000038000u}) {
        EXPECT_EQ(Send(GetReferenceSpaceBoundsRectRequest {session, type}).result, XR_ERROR_REFERENCE_SPACE_UNSUPPORTED);
    }
    EXPECT_EQ(Send(GetReferenceSpaceBoundsRectRequest {session + 999, 9}).result, XR_ERROR_HANDLE_INVALID);
}

TEST_F(SpaceTest, ReferenceSpacesAreCreatedForSupportedTypesAndDestroyedOnce) {
    const uint64_t view = Reference(XR_REFERENCE_SPACE_TYPE_VIEW);
    const uint64_t local = Reference(XR_REFERENCE_SPACE_TYPE_LOCAL);
    EXPECT_EQ(view & 0xFF000000u, 0x7000000u);
    EXPECT_NE(view, local);
    EXPECT_EQ(CreateReference(XR_REFERENCE_SPACE_TYPE_STAGE).result, XR_ERROR_REFERENCE_SPACE_UNSUPPORTED);
    EXPECT_EQ(CreateReference(7).result, XR_ERROR_REFERENCE_SPACE_UNSUPPORTED);
    EXPECT_EQ(CreateReference(1, {kIdentity, {0, 0, 0}}, session_->handle + 999).result, XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Send(DestroySpaceRequest {{view}}).result, XR_SUCCESS);
    EXPECT_EQ(Send(DestroySpaceRequest {{view}}).result, XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Locate(view, local).first, XR_ERROR_HANDLE_INVALID);
}

TEST_F(SpaceTest, ActionSpacesNeedThePoseActionChecks) {
    EXPECT_EQ(CreateAction(0x5000001).result, XR_ERROR_HANDLE_INVALID);  // no actions exist
    Hooks hooks;
    state_.spaces.SetActionSpaceChecks(&hooks);
    for (XrResult refused : {XR_ERROR_HANDLE_INVALID, XR_ERROR_ACTION_TYPE_MISMATCH, XR_ERROR_PATH_UNSUPPORTED}) {
        hooks.check = refused;
        EXPECT_EQ(CreateAction(0x5000001, 77).result, refused);
    }
    EXPECT_TRUE(hooks.remembered.empty());
    hooks.check = XR_SUCCESS;
    HandleOf(CreateAction(0x5000001));
    const uint64_t second = HandleOf(CreateAction(0x5000001));
    EXPECT_EQ(hooks.remembered[0x5000001], second);  // the last created wins
    EXPECT_EQ(Send(CreateActionSpaceRequest {session_->handle + 999, {}, 0x5000001, 0, {}}).result, XR_ERROR_HANDLE_INVALID);
}

TEST_F(SpaceTest, SameTypeSpacesLocateAtTheirStoredPose) {
    const XrPosef odd {{0, 0, 2, 0}, {1, 2, 3}};  // not a unit orientation: kept as given
    const uint64_t local = Reference(XR_REFERENCE_SPACE_TYPE_LOCAL, odd);
    const uint64_t other = Reference(XR_REFERENCE_SPACE_TYPE_LOCAL, {kQuarterTurnX, {5, 5, 5}});
    const auto [result, location] = Locate(local, other, 0xDEAD0000);
    EXPECT_EQ(result, XR_SUCCESS);
    EXPECT_EQ(location.header.type, static_cast<uint32_t>(XR_TYPE_SPACE_LOCATION));
    EXPECT_EQ(location.header.next, 0u);  // never the application's pointer
    EXPECT_EQ(location.locationFlags, 15u);
    ExpectPose(location.pose, odd);
    const uint64_t view = Reference(XR_REFERENCE_SPACE_TYPE_VIEW, {kQuarterTurnY, {0, 1, 0}});
    ExpectPose(Locate(view, Reference(XR_REFERENCE_SPACE_TYPE_VIEW)).second.pose, {kQuarterTurnY, {0, 1, 0}});
}

TEST_F(SpaceTest, ViewInLocalFollowsTheHeadBetweenTheEyes) {
    const uint64_t local = Reference(XR_REFERENCE_SPACE_TYPE_LOCAL, {kQuarterTurnX, {9, 9, 9}});  // not applied
    const auto [result, location] = Locate(Reference(XR_REFERENCE_SPACE_TYPE_VIEW), local);
    EXPECT_EQ(result, XR_SUCCESS);
    EXPECT_EQ(location.locationFlags, 15u);
    ExpectPose(location.pose, {kIdentity, {0, 0, 0.6f}});
    EXPECT_EQ(eyes_.capacities, std::vector<uint32_t>({4}));

    // A turned head carries the space's offset; the orientation is the space's ⊗ the head's.
    eyes_.SetEyes(kQuarterTurnY, {-0.03f, 0, 0.6f}, {0.03f, 0, 0.6f});
    const uint64_t offset = Reference(XR_REFERENCE_SPACE_TYPE_VIEW, {kQuarterTurnX, {0.1f, 0, 0}});
    ExpectPose(Locate(offset, local).second.pose, {{0.5f, 0.5f, 0.5f, 0.5f}, {0, 0, 0.5f}});

    // The session's view space is answered with its stored pose.
    LocateViews(offset, 0);
    ExpectPose(Locate(offset, local).second.pose, {kQuarterTurnX, {0.1f, 0, 0}});
}

TEST_F(SpaceTest, LocalInViewUndoesViewInLocal) {
    eyes_.SetEyes(kQuarterTurnY, {0.17f, 0.2f, 0.5f}, {0.23f, 0.2f, 0.5f});
    const uint64_t view = Reference(XR_REFERENCE_SPACE_TYPE_VIEW, {kQuarterTurnX, {0.1f, -0.2f, 0.3f}});
    const uint64_t local = Reference(XR_REFERENCE_SPACE_TYPE_LOCAL);
    const auto there = Locate(view, local).second;
    const auto back = Locate(local, view).second;
    EXPECT_EQ(back.locationFlags, 15u);
    ExpectPose(Compose(there.pose, back.pose), {kIdentity, {0, 0, 0}});
    ExpectPose(Compose(back.pose, there.pose), {kIdentity, {0, 0, 0}});
}

TEST_F(SpaceTest, WithoutEyeDataTheHeadIsReportedUnknown) {
    eyes_.result = kDriverNoEyeData;
    const uint64_t view = Reference(XR_REFERENCE_SPACE_TYPE_VIEW);
    const uint64_t local = Reference(XR_REFERENCE_SPACE_TYPE_LOCAL);
    EXPECT_EQ(Locate(view, local).second.locationFlags, 0u);
    EXPECT_EQ(Locate(local, view).second.locationFlags, 0u);
    EXPECT_EQ(Locate(local, local).second.locationFlags, 15u);
    const auto [result, reply] = LocateViews(local, 2);
    EXPECT_EQ(result, XR_SUCCESS);
    EXPECT_EQ(reply.viewState.viewStateFlags, 0u);
    ASSERT_EQ(reply.views.size(), 2u);
    ExpectPose(reply.views[0].pose, {kIdentity, {0, 0, 0}});
}

TEST_F(SpaceTest, ActionSpacesLocateThroughTheirDeviceOnlyAgainstLocal) {
    Hooks hooks;
    hooks.device = {kQuarterTurnY, {1, 0, 0}};
    state_.spaces.SetActionSpaceChecks(&hooks);
    const uint64_t action = HandleOf(CreateAction(0x5000001, 0, {kQuarterTurnX, {7, 7, 7}}));  // its pose is not applied
    const uint64_t local = Reference(XR_REFERENCE_SPACE_TYPE_LOCAL, {kIdentity, {0.1f, 0, 0}});
    const XrPosef expected {kQuarterTurnY, {1, 0, -0.1f}};
    EXPECT_EQ(Locate(action, local).second.locationFlags, 15u);
    ExpectPose(Locate(action, local).second.pose, expected);
    ExpectPose(Locate(local, action).second.pose, expected);  // the same whichever is located
    EXPECT_EQ(Locate(action, Reference(XR_REFERENCE_SPACE_TYPE_VIEW)).second.locationFlags, 0u);
    EXPECT_EQ(Locate(action, HandleOf(CreateAction(0x5000002))).second.locationFlags, 0u);
    hooks.hasPose = false;
    EXPECT_EQ(Locate(action, local).second.locationFlags, 0u);
}

TEST_F(SpaceTest, SpacesOfADestroyedSessionAreRefused) {
    const uint64_t local = Reference(XR_REFERENCE_SPACE_TYPE_LOCAL);
    const uint64_t other = HandleOf(CreateReference(XR_REFERENCE_SPACE_TYPE_LOCAL, {kIdentity, {0, 0, 0}}, AddSession()->handle));
    {
        std::lock_guard lock(state_.sessions.Mutex());
        state_.sessions.SessionsLocked().erase(session_->handle);
    }
    EXPECT_EQ(Locate(local, other).first, XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Locate(other, local).first, XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Send(DestroySpaceRequest {{local}}).result, XR_SUCCESS);
}

TEST_F(SpaceTest, ViewsAreTheDisplaysEyesTurnedByTheSpace) {
    const uint64_t local = Reference(XR_REFERENCE_SPACE_TYPE_LOCAL, {kQuarterTurnY, {5, 5, 5}});
    const auto [query, state] = LocateViews(local, 0);
    EXPECT_EQ(query, XR_SUCCESS);
    EXPECT_EQ(state.viewState.viewStateFlags, 15u);
    EXPECT_EQ(state.count, 2u);
    EXPECT_TRUE(state.views.empty());
    EXPECT_TRUE(eyes_.capacities.empty());
    EXPECT_EQ(session_->viewSpace.load(), local);

    const uint64_t view = Reference(XR_REFERENCE_SPACE_TYPE_VIEW);
    EXPECT_EQ(LocateViews(view, 1).first, XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(session_->viewSpace.load(), view);  // recorded before the capacity check

    const auto [result, reply] = LocateViews(local, 2);
    EXPECT_EQ(result, XR_SUCCESS);
    EXPECT_EQ(eyes_.capacities, std::vector<uint32_t>({4}));
    EXPECT_EQ(reply.viewState.header.type, static_cast<uint32_t>(XR_TYPE_VIEW_STATE));
    EXPECT_EQ(reply.viewState.viewStateFlags, 15u);
    ASSERT_EQ(reply.views.size(), 2u);
    // Turned a quarter about Y, (x, y, z) goes to (z, y, -x); the space's position is not added.
    ExpectPose(reply.views[0].pose, {kQuarterTurnY, {0.6f, 0, 0.03f}});
    ExpectPose(reply.views[1].pose, {kQuarterTurnY, {0.6f, 0, -0.03f}});
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(reply.views[i].header.type, static_cast<uint32_t>(XR_TYPE_VIEW));
        EXPECT_EQ(reply.views[i].fov.angleLeft, eyes_.eyes[i].fov.angleLeft);
        EXPECT_EQ(reply.views[i].fov.angleRight, eyes_.eyes[i].fov.angleRight);
    }

    eyes_.count = 3;  // more views than the application has room for
    const auto [tooSmall, counted] = LocateViews(local, 2);
    EXPECT_EQ(tooSmall, XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(counted.count, 3u);
    EXPECT_EQ(LocateViews(local + 999, 2).first, XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Send(LocateViewsRequest {session_->handle + 999, {}, 2, 0, local, 2}).result, XR_ERROR_HANDLE_INVALID);
}

}  // namespace
}  // namespace qor::test
