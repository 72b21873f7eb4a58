// The library's one export: the loader's negotiation with the layer.
#include "apilayer/stereoview_layer.h"
#include "platform/export.h"

NORVIK_EXPORT XrResult XRAPI_CALL xrNegotiateLoaderApiLayerInterface(const XrNegotiateLoaderInfo* loaderInfo,
                                                                     const char* layerName,
                                                                     XrNegotiateApiLayerRequest* apiLayerRequest) {
    return qor::apilayer::NegotiateLoaderApiLayerInterface(loaderInfo, layerName, apiLayerRequest);
}
