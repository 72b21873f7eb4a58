#include "protocol/extension_index.h"

#include <array>

namespace qor::protocol {

namespace {
constexpr std::array<std::string_view, 38> kExtensions = {
    "XR_KHR_android_create_instance",
    "XR_KHR_android_surface_swapchain",
    "XR_KHR_android_thread_settings",
    "XR_KHR_composition_layer_cube",
    "XR_KHR_composition_layer_cylinder",
    "XR_KHR_composition_layer_depth",
    "XR_KHR_composition_layer_equirect",
    "XR_KHR_convert_timespec_time",
    "XR_KHR_D3D11_enable",
    "XR_KHR_D3D12_enable",
    "XR_KHR_opengl_enable",
    "XR_KHR_opengl_es_enable",
    "XR_KHR_visibility_mask",
    "XR_KHR_vulkan_enable",
    "XR_KHR_vulkan_swapchain_format_list",
    "XR_KHR_win32_convert_performance_counter_time",
    "XR_EXT_conformance_automation",
    "XR_EXT_debug_utils",
    "XR_EXT_eye_gaze_interaction",
    "XR_EXT_hand_tracking",
    "XR_EXT_performance_settings",
    "XR_EXT_thermal_query",
    "XR_EXT_view_configuration_depth_range",
    "XR_EXT_win32_appcontainer_compatible",
    "XR_EPIC_view_configuration_fov",
    "XR_HUAWEI_controller_interaction",
    "XR_MND_headless",
    "XR_MSFT_first_person_observer",
    "XR_MSFT_hand_interaction",
    "XR_MSFT_hand_tracking_mesh",
    "XR_MSFT_secondary_view_configuration",
    "XR_MSFT_spatial_anchor",
    "XR_MSFT_spatial_graph_bridge",
    "XR_MSFT_unbounded_reference_space",
    "XR_OCULUS_android_session_state_enable",
    "XR_VARJO_quad_views",
    "XR_EXTX_overlay",
    "XR_MNDX_egl_enable",
};

static_assert(kExtensions[extension::kKhrAndroidCreateInstance] == "XR_KHR_android_create_instance");
static_assert(kExtensions[extension::kKhrAndroidSurfaceSwapchain] == "XR_KHR_android_surface_swapchain");
static_assert(kExtensions[extension::kKhrAndroidThreadSettings] == "XR_KHR_android_thread_settings");
static_assert(kExtensions[extension::kKhrD3D11Enable] == "XR_KHR_D3D11_enable");
static_assert(kExtensions[extension::kKhrD3D12Enable] == "XR_KHR_D3D12_enable");
static_assert(kExtensions[extension::kKhrOpenGlEsEnable] == "XR_KHR_opengl_es_enable");
static_assert(kExtensions[extension::kExtWin32AppContainerCompatible] == "XR_EXT_win32_appcontainer_compatible");
static_assert(kExtensions[extension::kOculusAndroidSessionStateEnable] == "XR_OCULUS_android_session_state_enable");
static_assert(kExtensions[extension::kVarjoQuadViews] == "XR_VARJO_quad_views");
}  // namespace

std::span<const std::string_view> ExtensionIndexTable() { return kExtensions; }

std::optional<uint32_t> ExtensionIndexOf(std::string_view name) {
    for (uint32_t i = 0; i < kExtensions.size(); ++i) {
        if (kExtensions[i] == name) return i;
    }
    return std::nullopt;
}

std::string_view ExtensionNameOf(uint32_t index) { return index < kExtensions.size() ? kExtensions[index] : std::string_view(); }

}  // namespace qor::protocol
