// Every operation of the service pipe, once: the operation codes, their names, the service's
// dispatch rows, its handler declarations and the runtime library's function table are all
// expanded from this list.
//
// X(Name, Code, Function, Request, Reply, Scope, ShortBody)
//   Name      the operation (protocol::Op::Name); the service's handler is HandleName
//   Code      the code on the wire; grouped by ten thousands: 10000 instance-less calls,
//             20000 instance, 30000 system, 40000 paths, 50000 spaces, 60000 view
//             configurations, 70000 session, 80000 swapchains and frames, 90000 actions,
//             100000 extension functions
//   Function  the OpenXR function the code carries
//   Request   the request body (protocol/messages.h)
//   Reply     the reply body; NoReply when only the result travels
//   Scope     Global: the runtime resolves the function without an instance; Instance: with one;
//             KhrD3D11Enable, KhrD3D12Enable: for an instance that enabled that extension
//   ShortBody what a request shorter than its layout answers: Refused
//             (XR_ERROR_VALIDATION_FAILURE), HandleInvalid (XR_ERROR_HANDLE_INVALID), or
//             Unread (the handler reads no body)
//
// Rows stay in ascending code order: the dispatcher searches them by code.
#pragma once

// clang-format off
#define NORVIK_OPERATIONS(X) \
    X(EnumerateApiLayerProperties, 10000, xrEnumerateApiLayerProperties, EnumerateApiLayerPropertiesRequest, EnumerateApiLayerPropertiesReply, Global, Unread) \
    X(EnumerateInstanceExtensionProperties, 10001, xrEnumerateInstanceExtensionProperties, EnumerateInstanceExtensionPropertiesRequest, EnumerateInstanceExtensionPropertiesReply, Global, Refused) \
    X(CreateInstance, 20000, xrCreateInstance, CreateInstanceRequest, CreateInstanceReply, Global, Refused) \
    X(DestroyInstance, 20001, xrDestroyInstance, DestroyInstanceRequest, NoReply, Instance, HandleInvalid) \
    X(GetInstanceProperties, 20002, xrGetInstanceProperties, GetInstancePropertiesRequest, GetInstancePropertiesReply, Instance, Unread) \
    X(ResultToString, 20003, xrResultToString, ResultToStringRequest, NameReply, Instance, Refused) \
    X(StructureTypeToString, 20004, xrStructureTypeToString, StructureTypeToStringRequest, NameReply, Instance, Refused) \
    X(PollEvent, 20005, xrPollEvent, PollEventRequest, PollEventReply, Instance, Refused) \
    X(GetSystem, 30000, xrGetSystem, GetSystemRequest, GetSystemReply, Instance, Refused) \
    X(GetSystemProperties, 30001, xrGetSystemProperties, GetSystemPropertiesRequest, GetSystemPropertiesReply, Instance, Refused) \
    X(StringToPath, 40000, xrStringToPath, StringToPathRequest, StringToPathReply, Instance, Refused) \
    X(PathToString, 40001, xrPathToString, PathToStringRequest, PathToStringReply, Instance, Refused) \
    X(GetReferenceSpaceBoundsRect, 50000, xrGetReferenceSpaceBoundsRect, GetReferenceSpaceBoundsRectRequest, GetReferenceSpaceBoundsRectReply, Instance, Refused) \
    X(EnumerateReferenceSpaces, 50001, xrEnumerateReferenceSpaces, EnumerateReferenceSpacesRequest, EnumerateReferenceSpacesReply, Instance, Refused) \
    X(CreateReferenceSpace, 50002, xrCreateReferenceSpace, CreateReferenceSpaceRequest, CreateReferenceSpaceReply, Instance, Refused) \
    X(CreateActionSpace, 50003, xrCreateActionSpace, CreateActionSpaceRequest, CreateActionSpaceReply, Instance, Refused) \
    X(DestroySpace, 50004, xrDestroySpace, DestroySpaceRequest, NoReply, Instance, HandleInvalid) \
    X(LocateSpace, 50005, xrLocateSpace, LocateSpaceRequest, LocateSpaceReply, Instance, Refused) \
    X(EnumerateViewConfigurations, 60000, xrEnumerateViewConfigurations, EnumerateViewConfigurationsRequest, EnumerateViewConfigurationsReply, Instance, Refused) \
    X(GetViewConfigurationProperties, 60001, xrGetViewConfigurationProperties, GetViewConfigurationPropertiesRequest, GetViewConfigurationPropertiesReply, Instance, Refused) \
    X(EnumerateViewConfigurationViews, 60002, xrEnumerateViewConfigurationViews, EnumerateViewConfigurationViewsRequest, EnumerateViewConfigurationViewsReply, Instance, Refused) \
    X(CreateSession, 70000, xrCreateSession, CreateSessionRequest, CreateSessionReply, Instance, Refused) \
    X(DestroySession, 70001, xrDestroySession, DestroySessionRequest, NoReply, Instance, HandleInvalid) \
    X(BeginSession, 70002, xrBeginSession, BeginSessionRequest, NoReply, Instance, Refused) \
    X(EndSession, 70003, xrEndSession, EndSessionRequest, NoReply, Instance, HandleInvalid) \
    X(RequestExitSession, 70004, xrRequestExitSession, RequestExitSessionRequest, NoReply, Instance, HandleInvalid) \
    X(EnumerateSwapchainFormats, 80000, xrEnumerateSwapchainFormats, EnumerateSwapchainFormatsRequest, EnumerateSwapchainFormatsReply, Instance, Refused) \
    X(CreateSwapchain, 80001, xrCreateSwapchain, CreateSwapchainRequest, CreateSwapchainReply, Instance, Refused) \
    X(DestroySwapchain, 80002, xrDestroySwapchain, DestroySwapchainRequest, NoReply, Instance, HandleInvalid) \
    X(EnumerateSwapchainImages, 80003, xrEnumerateSwapchainImages, EnumerateSwapchainImagesRequest, EnumerateSwapchainImagesReply, Instance, Refused) \
    X(AcquireSwapchainImage, 80004, xrAcquireSwapchainImage, AcquireSwapchainImageRequest, AcquireSwapchainImageReply, Instance, Refused) \
    X(WaitSwapchainImage, 80005, xrWaitSwapchainImage, WaitSwapchainImageRequest, NoReply, Instance, Refused) \
    X(ReleaseSwapchainImage, 80006, xrReleaseSwapchainImage, ReleaseSwapchainImageRequest, NoReply, Instance, Refused) \
    X(LocateViews, 80007, xrLocateViews, LocateViewsRequest, LocateViewsReply, Instance, Refused) \
    X(WaitFrame, 80008, xrWaitFrame, WaitFrameRequest, WaitFrameReply, Instance, Refused) \
    X(BeginFrame, 80009, xrBeginFrame, BeginFrameRequest, NoReply, Instance, Refused) \
    X(EndFrame, 80010, xrEndFrame, EndFrameRequest, NoReply, Instance, Refused) \
    X(EnumerateEnvironmentBlendModes, 80011, xrEnumerateEnvironmentBlendModes, EnumerateEnvironmentBlendModesRequest, EnumerateEnvironmentBlendModesReply, Instance, Refused) \
    X(CreateActionSet, 90000, xrCreateActionSet, CreateActionSetRequest, CreateActionSetReply, Instance, Refused) \
    X(DestroyActionSet, 90001, xrDestroyActionSet, DestroyActionSetRequest, NoReply, Instance, Refused) \
    X(CreateAction, 90002, xrCreateAction, CreateActionRequest, CreateActionReply, Instance, Refused) \
    X(DestroyAction, 90003, xrDestroyAction, DestroyActionRequest, NoReply, Instance, Refused) \
    X(SuggestInteractionProfileBindings, 90004, xrSuggestInteractionProfileBindings, SuggestInteractionProfileBindingsRequest, NoReply, Instance, Refused) \
    X(AttachSessionActionSets, 90005, xrAttachSessionActionSets, AttachSessionActionSetsRequest, NoReply, Instance, Refused) \
    X(GetCurrentInteractionProfile, 90006, xrGetCurrentInteractionProfile, GetCurrentInteractionProfileRequest, GetCurrentInteractionProfileReply, Instance, Refused) \
    X(GetActionStateBoolean, 90007, xrGetActionStateBoolean, GetActionStateBooleanRequest, ActionStateBooleanRecord, Instance, Refused) \
    X(GetActionStateFloat, 90008, xrGetActionStateFloat, GetActionStateFloatRequest, ActionStateFloatRecord, Instance, Refused) \
    X(GetActionStateVector2f, 90009, xrGetActionStateVector2f, GetActionStateVector2fRequest, ActionStateVector2fRecord, Instance, Refused) \
    X(GetActionStatePose, 90010, xrGetActionStatePose, GetActionStatePoseRequest, ActionStatePoseRecord, Instance, Refused) \
    X(ApplyHapticFeedback, 90011, xrApplyHapticFeedback, ApplyHapticFeedbackRequest, NoReply, Instance, Refused) \
    X(StopHapticFeedback, 90012, xrStopHapticFeedback, StopHapticFeedbackRequest, NoReply, Instance, Refused) \
    X(SyncActions, 90013, xrSyncActions, SyncActionsRequest, NoReply, Instance, Refused) \
    X(EnumerateBoundSourcesForAction, 90014, xrEnumerateBoundSourcesForAction, EnumerateBoundSourcesForActionRequest, EnumerateBoundSourcesForActionReply, Instance, Refused) \
    X(GetInputSourceLocalizedName, 90015, xrGetInputSourceLocalizedName, GetInputSourceLocalizedNameRequest, GetInputSourceLocalizedNameReply, Instance, Refused) \
    X(GetD3D11GraphicsRequirementsKHR, 100003, xrGetD3D11GraphicsRequirementsKHR, GetD3D11GraphicsRequirementsRequest, GraphicsRequirementsReply, KhrD3D11Enable, Unread) \
    X(GetD3D12GraphicsRequirementsKHR, 100004, xrGetD3D12GraphicsRequirementsKHR, GetD3D12GraphicsRequirementsRequest, GraphicsRequirementsReply, KhrD3D12Enable, Unread)
// clang-format on
