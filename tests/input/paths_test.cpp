// Path values, the per-instance path table and the fixed vocabulary, through the dispatcher.
#include "service/input/profiles.h"
#include "tests/input/input_fixture.h"

namespace qor::test {
namespace {

using PathsTest = InputFixture;

TEST_F(PathsTest, StringToPathAcceptsOnlyWellFormedPaths) {
    const struct {
        std::string text;
        XrResult expected;
    } cases[] = {
        {"/user/hand/left", XR_SUCCESS},
        {"/a-b.c_d/0123456789", XR_SUCCESS},
        {"", XR_ERROR_PATH_FORMAT_INVALID},
        {"/user/Hand/left", XR_ERROR_PATH_FORMAT_INVALID},
        {"/user/hand left", XR_ERROR_PATH_FORMAT_INVALID},
        {"user/hand/left", XR_ERROR_PATH_FORMAT_INVALID},
        {"/user/hand/", XR_ERROR_PATH_FORMAT_INVALID},
        {"/user//hand", XR_ERROR_PATH_FORMAT_INVALID},
        {"/user/../hand", XR_ERROR_PATH_FORMAT_INVALID},
        {"/", XR_ERROR_PATH_FORMAT_INVALID},
        {"/" + std::string(254, 'a'), XR_SUCCESS},
        {"/" + std::string(255, 'a'), XR_ERROR_PATH_FORMAT_INVALID},
    };
    for (const auto& c : cases) {
        uint64_t path = 0;
        EXPECT_EQ(PathOf(c.text, &path), c.expected) << c.text;
    }
}

TEST_F(PathsTest, PathValueIsTheFnvHashInEveryInstance) {
    const uint64_t other = CreateInstance("other");
    uint64_t first = 0;
    uint64_t second = 0;
    ASSERT_EQ(PathOf("/user/hand/left", &first), XR_SUCCESS);
    ASSERT_EQ(PathOf("/user/hand/left", &second, other), XR_SUCCESS);
    EXPECT_EQ(first, 0x73de157267200771ULL);
    EXPECT_EQ(second, first);
    EXPECT_EQ(PathOf("/user/hand/left", &second, 0x1234), XR_ERROR_HANDLE_INVALID);
}

TEST_F(PathsTest, PathToStringFollowsTheTwoCallRule) {
    const uint64_t path = Path("/user/head");  // 10 characters
    const struct {
        uint64_t instance;
        uint64_t path;
        uint32_t capacity;
        XrResult expected;
        uint32_t count;
        bool withText;
    } cases[] = {
        {instance_, path, 0, XR_SUCCESS, 11, false},
        {instance_, path, 10, XR_ERROR_SIZE_INSUFFICIENT, 11, false},
        {instance_, path, 11, XR_SUCCESS, 11, true},
        {instance_, path, 64, XR_SUCCESS, 11, true},
        {instance_, 0x42, 64, XR_ERROR_PATH_INVALID, 0, false},
        {instance_, XR_NULL_PATH, 64, XR_ERROR_PATH_INVALID, 0, false},
        {0x1234, path, 64, XR_ERROR_HANDLE_INVALID, 0, false},
    };
    for (const auto& c : cases) {
        XrResult result;
        const auto reply = Reply(PathToStringRequest {c.instance, c.path, c.capacity}, &result);
        EXPECT_EQ(result, c.expected) << c.capacity;
        if (c.count == 0) continue;
        PathToStringReply text;
        ASSERT_TRUE(DecodeReply(reply.data(), reply.size(), &text));
        EXPECT_EQ(text.text.length, c.count);
        EXPECT_EQ(text.text.withText, c.withText);
        if (c.withText) {
            EXPECT_EQ(text.text.text, "/user/head");
        }
    }
}

TEST_F(PathsTest, PathTableIsBoundedPerInstanceAndDroppedWithIt) {
    uint64_t path = 0;
    for (size_t i = 0; i < input::kMaxPathsPerInstance; ++i) {
        ASSERT_EQ(PathOf("/p/" + std::to_string(i), &path), XR_SUCCESS) << i;
    }
    EXPECT_EQ(PathOf("/one/more", &path), XR_ERROR_PATH_COUNT_EXCEEDED);
    EXPECT_EQ(PathOf("/p/7", &path), XR_SUCCESS);  // known strings still answer
    ASSERT_EQ(Send(DestroyInstanceRequest {{instance_}}), XR_SUCCESS);
    instances_.clear();
    EXPECT_EQ(PathOf("/p/7", &path), XR_ERROR_HANDLE_INVALID);
}

TEST_F(PathsTest, ComponentsGetTheirKindFromTheLastSegment) {
    ImplQorInputDevice& device = state_.drivers.Context().InputDevice();
    EXPECT_EQ(device.ComponentCount(), 34u * 2 + 24 + 4);
    const struct {
        const char* path;
        bool exists;
        ComponentKind kind;
        ComponentDirection direction;
    } cases[] = {
        {"/user/hand/left/input/select/click", true, ComponentKind::Boolean, ComponentDirection::Input},
        {"/user/hand/right/input/trigger/touch", true, ComponentKind::Boolean, ComponentDirection::Input},
        {"/user/hand/left/input/thumbstick", true, ComponentKind::Vector2, ComponentDirection::Input},
        {"/user/hand/left/input/thumbstick/x", true, ComponentKind::Float, ComponentDirection::Input},
        {"/user/hand/left/input/aim/pose", true, ComponentKind::Pose, ComponentDirection::Input},
        {"/user/hand/left/output/haptic", true, ComponentKind::Haptic, ComponentDirection::Output},
        {"/user/gamepad/output/haptic_left_trigger", true, ComponentKind::Haptic, ComponentDirection::Output},
        {"/user/gamepad/input/trigger_left/value", true, ComponentKind::Float, ComponentDirection::Input},
        {"/user/gamepad/input/thumbstick_left", false, {}, {}},
        {"/user/hand/left/input/trigger", false, {}, {}},
        {"/user/head/input/volume_up/click", true, ComponentKind::Boolean, ComponentDirection::Input},
        {"/user/treadmill/input/select/click", false, {}, {}},
    };
    for (const auto& c : cases) {
        const InputComponent* component = device.FindComponent(PathHash(c.path));
        ASSERT_EQ(component != nullptr, c.exists) << c.path;
        if (!c.exists) continue;
        EXPECT_EQ(component->kind, c.kind) << c.path;
        EXPECT_EQ(component->direction, c.direction) << c.path;
    }
}

TEST_F(PathsTest, ProfilesAcceptTheirComponentsAndParentPaths) {
    const input::Catalogue& catalogue = input::Catalogue::Get();
    EXPECT_EQ(catalogue.Profiles().size(), 9u);
    const struct {
        const char* profile;
        const char* binding;
        bool valid;
    } cases[] = {
        {"/interaction_profiles/khr/simple_controller", "/user/hand/left/input/select/click", true},
        {"/interaction_profiles/khr/simple_controller", "/user/hand/left/input/select", true},
        {"/interaction_profiles/khr/simple_controller", "/user/hand/right/output/haptic", true},
        {"/interaction_profiles/khr/simple_controller", "/user/hand/left/input/trigger/value", false},
        {"/interaction_profiles/htc/vive_controller", "/user/hand/right/input/trigger", true},
        {"/interaction_profiles/htc/vive_pro", "/user/head/input/mute_mic/click", true},
        {"/interaction_profiles/htc/vive_pro", "/user/hand/left/input/system/click", false},
        {"/interaction_profiles/microsoft/xbox_controller", "/user/gamepad/input/thumbstick_left", true},
        {"/interaction_profiles/oculus/touch_controller", "/user/hand/left/input/x/click", true},
        {"/interaction_profiles/oculus/touch_controller", "/user/hand/right/input/x/click", false},
        {"/interaction_profiles/valve/index_controller", "/user/hand/left/input/trackpad/force", true},
        {"/interaction_profiles/none", "/user/hand/left/input/select/click", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(catalogue.IsBindingValid(PathHash(c.profile), PathHash(c.binding)), c.valid) << c.profile << c.binding;
    }
    // Parent paths count in a user path's binding list: 5 components and 3 identifiers.
    const auto* simple = catalogue.FindProfile(PathHash("/interaction_profiles/khr/simple_controller"));
    ASSERT_NE(simple, nullptr);
    EXPECT_EQ(simple->userPaths.at(PathHash("/user/hand/left")).bindings.size(), 9u);
}

}  // namespace
}  // namespace qor::test
