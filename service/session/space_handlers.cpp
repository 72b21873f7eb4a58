// Reference and action spaces, xrLocateSpace and xrLocateViews. Eye poses come from the
// display component of the session's system; these handlers place them in the
// application's spaces.
#include "protocol/messages.h"
#include "service/core/handle_counter.h"
#include "service/server/ownership.h"
#include "service/driverhost/driver_registry.h"
#include "service/server/handlers.h"
#include "service/server/service_state.h"
#include "service/session/session_registry.h"
#include "service/session/space_table.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace qor {

using namespace protocol;

namespace {
constexpr uint64_t kAllLocationFlags = XR_SPACE_LOCATION_ORIENTATION_VALID_BIT | XR_SPACE_LOCATION_POSITION_VALID_BIT |
                                       XR_SPACE_LOCATION_ORIENTATION_TRACKED_BIT |
                                       XR_SPACE_LOCATION_POSITION_TRACKED_BIT;  // 15
constexpr uint64_t kAllViewStateFlags = XR_VIEW_STATE_ORIENTATION_VALID_BIT | XR_VIEW_STATE_POSITION_VALID_BIT |
                                        XR_VIEW_STATE_ORIENTATION_TRACKED_BIT | XR_VIEW_STATE_POSITION_TRACKED_BIT;
constexpr uint32_t kDisplayViewCapacity = 4;
constexpr uint32_t kStereoViewCount = 2;
constexpr XrPosef kIdentityPose {{0, 0, 0, 1}, {0, 0, 0}};


// ---- Pose maths (quaternions x, y, z, w; Hamilton products) ----

XrQuaternionf Multiply(const XrQuaternionf& a, const XrQuaternionf& b) {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

XrVector3f Cross(const XrVector3f& a, const XrVector3f& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// v + w·t + q×t with t = 2·(q×v).
XrVector3f Rotate(const XrQuaternionf& q, const XrVector3f& v) {
    const XrVector3f axis {q.x, q.y, q.z};
    const XrVector3f c = Cross(axis, v);
    const XrVector3f t {2 * c.x, 2 * c.y, 2 * c.z};
    const XrVector3f u = Cross(axis, t);
    return {v.x + q.w * t.x + u.x, v.y + q.w * t.y + u.y, v.z + q.w * t.z + u.z};
}

// A zero (or non-finite) quaternion has no direction; identity stands in for it rather
// than a division by zero.
XrQuaternionf Normalise(const XrQuaternionf& q) {
    const float norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (!(norm > 0.0f) || !std::isfinite(norm)) return kIdentityPose.orientation;
    return {q.x / norm, q.y / norm, q.z / norm, q.w / norm};
}

XrPosef Inverse(const XrPosef& pose) {
    const XrQuaternionf unit = Normalise(pose.orientation);
    const XrQuaternionf conjugate {-unit.x, -unit.y, -unit.z, unit.w};
    const XrVector3f moved = Rotate(conjugate, pose.position);
    return {conjugate, {-moved.x, -moved.y, -moved.z}};
}

// `relative` (a pose given in a frame) carried by `frame`: orientation relative.q ⊗ frame.q,
// position frame.p + rotate(frame.q, relative.p).
XrPosef Carry(const XrPosef& relative, const XrPosef& frame) {
    const XrVector3f offset = Rotate(frame.orientation, relative.position);
    return {Normalise(Multiply(relative.orientation, frame.orientation)),
            {frame.position.x + offset.x, frame.position.y + offset.y, frame.position.z + offset.z}};
}

// ---- Lookups ----

XrView DefaultView() {
    XrView view {XR_TYPE_VIEW};
    view.pose = kIdentityPose;
    return view;
}

// The display component's views (capacity 4); false when it has none to give.
bool QueryDisplayViews(IQorDisplayComponent* display, XrView (&views)[kDisplayViewCapacity], uint32_t* count) {
    for (XrView& view : views) view = DefaultView();
    *count = 0;
    if (display == nullptr) return false;
    if (display->LocateViews(kDisplayViewCapacity, count, views) != kDriverOk || *count == 0) return false;
    *count = std::min(*count, kDisplayViewCapacity);
    return true;
}

// The head: the midpoint of the eyes, oriented as the first view.
bool HeadPose(IQorDisplayComponent* display, XrPosef* head) {
    XrView views[kDisplayViewCapacity];
    uint32_t count = 0;
    if (!QueryDisplayViews(display, views, &count)) return false;
    const XrVector3f& left = views[0].pose.position;
    const XrVector3f& right = count >= 2 ? views[1].pose.position : left;  // one view: a mono display
    *head = {views[0].pose.orientation, {(left.x + right.x) / 2, (left.y + right.y) / 2, (left.z + right.z) / 2}};
    return true;
}

// A space of the caller's, with its session still alive; -12 otherwise.
XrResult FindSpace(const Caller& caller, uint64_t handle, SpaceInfo* space, std::shared_ptr<Session>* session) {
    if (!caller.state.spaces.Find(handle, space) || !OwnedBy(caller, space->ownerProcess)) return XR_ERROR_HANDLE_INVALID;
    *session = caller.state.sessions.Find(space->session);
    return *session ? XR_SUCCESS : XR_ERROR_HANDLE_INVALID;
}

struct Location {
    uint64_t flags = 0;
    XrPosef pose {{0, 0, 0, 0}, {0, 0, 0}};
};

// A VIEW space `view` in LOCAL: its stored pose when it is the session's view space, else its
// pose carried by the head.
bool ViewInLocal(uint64_t handle, const SpaceInfo& view, uint64_t viewSpace, const bool haveHead, const XrPosef& head,
                 XrPosef* pose) {
    if (handle == viewSpace) {
        *pose = view.pose;
        return true;
    }
    if (!haveHead) return false;
    *pose = Carry(view.pose, head);
    return true;
}

Location LocateReferenceSpaces(IQorDisplayComponent* display, const Session& session, uint64_t sHandle,
                               const SpaceInfo& s, uint64_t bHandle, const SpaceInfo& b) {
    XrPosef head {};
    const bool haveHead = HeadPose(display, &head);
    const uint64_t viewSpace = session.viewSpace.load();
    Location location;
    XrPosef pose {};
    if (s.referenceSpaceType == b.referenceSpaceType) {
        location = {kAllLocationFlags, s.pose};
    } else if (s.referenceSpaceType == XR_REFERENCE_SPACE_TYPE_VIEW && b.referenceSpaceType == XR_REFERENCE_SPACE_TYPE_LOCAL) {
        // The base LOCAL space's own pose is not applied.
        if (ViewInLocal(sHandle, s, viewSpace, haveHead, head, &pose)) location = {kAllLocationFlags, pose};
    } else if (s.referenceSpaceType == XR_REFERENCE_SPACE_TYPE_LOCAL && b.referenceSpaceType == XR_REFERENCE_SPACE_TYPE_VIEW) {
        // The inverse of the base VIEW space located in LOCAL, so that locating the pair both
        // ways gives poses that undo each other.
        if (ViewInLocal(bHandle, b, viewSpace, haveHead, head, &pose)) location = {kAllLocationFlags, Inverse(pose)};
    }
    // Without eye data from the display the head is unknown: flags 0 rather than a made-up pose.
    return location;
}

// One action space and one reference space (either may be the located one).
Location LocateActionAndReference(ActionSpaceChecks* checks, const Session& session, uint64_t sHandle,
                                  const SpaceInfo& action, const SpaceInfo& reference) {
    if (reference.referenceSpaceType != XR_REFERENCE_SPACE_TYPE_LOCAL) return {};
    if (sHandle == session.viewSpace.load()) return {kAllLocationFlags, reference.pose};
    XrPosef device {};
    // No action system or no bound device: the pose is unknown and reported as such.
    if (checks == nullptr || !checks->CurrentPose(action.action, action.subactionPath, &device)) return {};
    return {kAllLocationFlags, Carry(reference.pose, device)};
}

void AppendViewState(uint64_t flags, uint32_t count, Reply& reply) {
    LocateViewsReply answer;
    answer.viewState.header.type = XR_TYPE_VIEW_STATE;
    answer.viewState.viewStateFlags = flags;
    answer.count = count;
    reply.Encode(answer);
}
}  // namespace

// ---- SpaceTable ----

uint64_t SpaceTable::Insert(const SpaceInfo& space) {
    const uint64_t handle = handles_.New(kSpaceHandleBase);
    std::lock_guard lock(mutex_);
    uint32_t& count = perSession_[space.session];
    if (count >= kMaxSpacesPerSession) return 0;
    ++count;
    spaces_[handle] = space;
    return handle;
}

void SpaceTable::ForgetLocked(std::map<uint64_t, SpaceInfo>::iterator found) {
    const auto count = perSession_.find(found->second.session);
    if (count != perSession_.end() && --count->second == 0) perSession_.erase(count);
    spaces_.erase(found);
}

bool SpaceTable::Find(uint64_t handle, SpaceInfo* space) {
    std::lock_guard lock(mutex_);
    const auto found = spaces_.find(handle);
    if (found == spaces_.end()) return false;
    *space = found->second;
    return true;
}

bool SpaceTable::Erase(uint64_t handle, uint32_t ownerProcess) {
    std::lock_guard lock(mutex_);
    const auto found = spaces_.find(handle);
    if (found == spaces_.end() || found->second.ownerProcess != ownerProcess) return false;
    ForgetLocked(found);
    return true;
}

void SpaceTable::EraseOfSession(uint64_t session) {
    std::lock_guard lock(mutex_);
    for (auto it = spaces_.begin(); it != spaces_.end();) {
        const auto next = std::next(it);
        if (it->second.session == session) ForgetLocked(it);
        it = next;
    }
}

void SpaceTable::Clear() {
    std::lock_guard lock(mutex_);
    spaces_.clear();
    perSession_.clear();
}


// ---- Handlers ----

XrResult HandleGetReferenceSpaceBoundsRect(const Caller& caller, const GetReferenceSpaceBoundsRectRequest& message, Reply& reply) {
    if (!OwnedOnly(caller, caller.state.sessions.Find(message.session))) return XR_ERROR_HANDLE_INVALID;
    if (message.referenceSpaceType < XR_REFERENCE_SPACE_TYPE_VIEW ||
        message.referenceSpaceType > XR_REFERENCE_SPACE_TYPE_STAGE) {
        return XR_ERROR_REFERENCE_SPACE_UNSUPPORTED;
    }
    reply.Encode(GetReferenceSpaceBoundsRectReply {{0, 0}});
    return XR_SPACE_BOUNDS_UNAVAILABLE;
}

XrResult HandleEnumerateReferenceSpaces(const Caller& caller, const EnumerateReferenceSpacesRequest& message, Reply& reply) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.session));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    const std::vector<uint32_t> types(session->referenceSpaceTypes.begin(), session->referenceSpaceTypes.end());
    return AnswerEnumeration(reply, message.capacity, std::span<const uint32_t>(types));
}

XrResult HandleCreateReferenceSpace(const Caller& caller, const CreateReferenceSpaceRequest& message, Reply& reply) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.session));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    const auto& types = session->referenceSpaceTypes;
    if (std::find(types.begin(), types.end(), static_cast<int32_t>(message.referenceSpaceType)) == types.end()) {
        return XR_ERROR_REFERENCE_SPACE_UNSUPPORTED;
    }
    SpaceInfo space;
    space.isReferenceSpace = true;
    space.referenceSpaceType = static_cast<int32_t>(message.referenceSpaceType);
    space.pose = message.poseInReferenceSpace;
    space.session = session->handle;
    space.ownerProcess = session->ownerProcess;
    const uint64_t handle = caller.state.spaces.Insert(space);
    if (handle == 0) return XR_ERROR_LIMIT_REACHED;
    reply.Encode(HandleReply {handle});
    return XR_SUCCESS;
}

XrResult HandleCreateActionSpace(const Caller& caller, const CreateActionSpaceRequest& message, Reply& reply) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.session));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    ActionSpaceChecks* checks = caller.state.spaces.ActionChecks();
    if (checks == nullptr) return XR_ERROR_HANDLE_INVALID;  // no actions exist yet
    const XrResult checked = checks->CheckPoseAction(session->ownerProcess, message.action, message.subactionPath);
    if (XR_FAILED(checked)) return checked;
    SpaceInfo space;
    space.isReferenceSpace = false;
    space.pose = message.poseInActionSpace;
    space.session = session->handle;
    space.ownerProcess = session->ownerProcess;
    space.action = message.action;
    space.subactionPath = message.subactionPath;
    const uint64_t handle = caller.state.spaces.Insert(space);
    if (handle == 0) return XR_ERROR_LIMIT_REACHED;
    checks->RememberSpace(message.action, handle);
    reply.Encode(HandleReply {handle});
    return XR_SUCCESS;
}

XrResult HandleDestroySpace(const Caller& caller, const DestroySpaceRequest& message, Reply&) {
    return caller.state.spaces.Erase(message.handle, caller.client.ProcessId()) ? XR_SUCCESS : XR_ERROR_HANDLE_INVALID;
}

XrResult HandleLocateSpace(const Caller& caller, const LocateSpaceRequest& message, Reply& reply) {
    SpaceInfo s;
    SpaceInfo b;
    std::shared_ptr<Session> session;
    std::shared_ptr<Session> baseSession;
    if (XR_FAILED(FindSpace(caller, message.space, &s, &session)) ||
        XR_FAILED(FindSpace(caller, message.baseSpace, &b, &baseSession))) {
        return XR_ERROR_HANDLE_INVALID;  // no record: the library then keeps this result
    }
    // The time is not used: poses are the display's and devices' latest.
    Location location;
    if (s.isReferenceSpace && b.isReferenceSpace) {
        location = LocateReferenceSpaces(caller.state.drivers.DisplayOf(session->systemId), *session, message.space, s,
                                         message.baseSpace, b);
    } else if (s.isReferenceSpace != b.isReferenceSpace) {
        location = s.isReferenceSpace ? LocateActionAndReference(caller.state.spaces.ActionChecks(), *session, message.space, b, s)
                                      : LocateActionAndReference(caller.state.spaces.ActionChecks(), *session, message.space, s, b);
    }
    SpaceLocationRecord record;
    // The request's location type comes back, but next is always 0: the runtime library
    // refuses a record with a non-zero next and never needs the application's pointer back.
    record.header = {message.locationType, 0};
    record.locationFlags = location.flags;
    record.pose = location.pose;
    reply.Encode(record);
    return XR_SUCCESS;
}

XrResult HandleLocateViews(const Caller& caller, const LocateViewsRequest& message, Reply& reply) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.session));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    SpaceInfo space;
    std::shared_ptr<Session> spaceSession;
    if (XR_FAILED(FindSpace(caller, message.space, &space, &spaceSession))) return XR_ERROR_HANDLE_INVALID;
    session->viewSpace = message.space;

    // The display time and view configuration type are not used.
    if (message.viewCapacity == 0) {
        AppendViewState(kAllViewStateFlags, kStereoViewCount, reply);
        return XR_SUCCESS;
    }
    if (message.viewCapacity < kStereoViewCount) {
        AppendViewState(kAllViewStateFlags, kStereoViewCount, reply);
        return XR_ERROR_SIZE_INSUFFICIENT;
    }
    XrView eyes[kDisplayViewCapacity];
    uint32_t count = 0;
    const bool located = QueryDisplayViews(caller.state.drivers.DisplayOf(session->systemId), eyes, &count);
    if (!located) {
        // No eye data (the display component failed or is gone): the views are reported as not
        // valid, with identity poses, instead of whatever the component left behind.
        for (XrView& eye : eyes) eye = DefaultView();
        count = kStereoViewCount;
    }
    const uint64_t flags = located ? kAllViewStateFlags : 0;
    if (message.viewCapacity < count) {
        AppendViewState(flags, count, reply);
        return XR_ERROR_SIZE_INSUFFICIENT;
    }
    std::vector<ViewRecord> views(count);
    const XrQuaternionf& turn = space.pose.orientation;
    for (uint32_t i = 0; i < count; ++i) {
        // The space's orientation turns the eyes; its position is not added.
        views[i].header.type = XR_TYPE_VIEW;
        views[i].pose.orientation = Multiply(turn, eyes[i].pose.orientation);
        views[i].pose.position = Rotate(turn, eyes[i].pose.position);
        views[i].fov = eyes[i].fov;
    }
    LocateViewsReply answer;
    answer.viewState.header.type = XR_TYPE_VIEW_STATE;
    answer.viewState.viewStateFlags = flags;
    answer.count = count;
    answer.views.items = views;
    reply.Encode(answer);
    return XR_SUCCESS;
}

}  // namespace qor
