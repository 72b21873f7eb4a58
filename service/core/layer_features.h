// Features that implicit API layers add on top of the runtime (hand tracking, eye gaze,
// hand-tracking mesh), learnt from the layers' manifests. Once seen, a feature stays on.
#pragma once

#include <string>
#include <vector>

namespace qor {

struct LayerFeatures {
    bool eyeGaze = false;
    bool handTracking = false;
    bool handTrackingMesh = false;
};

// Reads the implicit-layer manifests in order; a manifest whose "disable_environment"
// variable is set ends the scan. Unreadable files are skipped.
void ScanLayerManifests(const std::vector<std::string>& manifestPaths);
// The scan over the system's implicit-layer list.
void ScanImplicitLayerManifests();
LayerFeatures CurrentLayerFeatures();

}  // namespace qor
