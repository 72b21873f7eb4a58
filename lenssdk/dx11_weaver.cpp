// The weaver over Direct3D 11: the frame buffer is a texture of the caller's device, and the
// weave is one full-screen draw on the caller's immediate context whose pixel shader computes
// each subpixel's lens phase as the CPU weave does (weaver_math.h).
#include "lenssdk/weaver.h"

#include "gpu/d3d11/d3d_core.h"
#include "shader_bytecode/weave_ps.h"
#include "shader_bytecode/weave_vs.h"

#include <d3d11.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lens {

namespace {

using qor::gpu::d3d11::Ref;
namespace bytecode = qor::gpu::d3d11::bytecode;

// The pixel shader's constant buffer (weave_ps.hlsl), in its packing.
struct WeaveConstants {
    uint32_t firstEye[3];  // phase at the first subpixel of row 0, step per subpixel, per row
    uint32_t perEye;
    uint32_t secondEye[3];
    uint32_t bgr;
    float origin[2];
    uint32_t outputSize[2];
    uint32_t viewSize[2];
    float inverseBand;
    float unused;
};
static_assert(sizeof(WeaveConstants) == 64, "constant buffers are whole 16-byte registers");

// As in the CPU weave's fast path, bands narrower than this (hard edges too) widen to it, so
// both weaves give the same frame.
constexpr double kNarrowestBand = 1.0 / 512;

// A phase as a 32-bit fraction of a lens pitch (whole pitches drop out).
uint32_t Fraction(double u) {
    const double f = u - std::floor(u);
    return uint32_t(uint64_t(std::llround(f * 4294967296.0)));  // 1.0 wraps to 0
}

// The phase of `eye`'s rays at the frame's first physical subpixel, and its steps to the next
// subpixel along a row and to the next row down.
void PhaseSteps(const WeaveSettings& s, unsigned width, unsigned height, const Vec3& eye, uint32_t steps[3]) {
    double qx, qy;
    SubpixelPosition(s, int(width), int(height), 0, 0, s.bgr ? 2 : 0, qx, qy);
    const double start = LensPhase(s, qx, qy, eye);
    steps[0] = Fraction(start);
    steps[1] = Fraction(LensPhase(s, qx + s.SubpixelWidthMm(), qy, eye) - start);
    steps[2] = Fraction(LensPhase(s, qx, qy - s.PixelPitchMm(), eye) - start);
}

WeaveConstants ConstantsFor(const WeaveSettings& s, const EyePair& given, unsigned width, unsigned height,
                            unsigned viewWidth, unsigned viewHeight, const D3D11_VIEWPORT& viewport) {
    const EyePair eyes = UsableEyes(given);
    const bool perEye = UsesPerEyePhases(eyes);
    const Vec3 midpoint{(eyes.left.x + eyes.right.x) / 2, (eyes.left.y + eyes.right.y) / 2,
                        (eyes.left.z + eyes.right.z) / 2};
    WeaveConstants constants{};
    PhaseSteps(s, width, height, perEye ? eyes.left : midpoint, constants.firstEye);
    PhaseSteps(s, width, height, eyes.right, constants.secondEye);
    constants.perEye = perEye ? 1 : 0;
    constants.bgr = s.bgr ? 1 : 0;
    constants.origin[0] = viewport.TopLeftX;
    constants.origin[1] = viewport.TopLeftY;
    constants.outputSize[0] = width;
    constants.outputSize[1] = height;
    constants.viewSize[0] = viewWidth;
    constants.viewSize[1] = viewHeight;
    constants.inverseBand = float(1 / std::max(s.blendBand, kNarrowestBand));
    return constants;
}

// The pipeline state the weave changes, taken from the context and put back when it ends; the
// render targets and viewports are the caller's and stay as they are.
class SavedPipeline {
public:
    explicit SavedPipeline(ID3D11DeviceContext* context) : context_(context) {
        context->IAGetInputLayout(layout_.Put());
        context->IAGetPrimitiveTopology(&topology_);
        context->VSGetShader(vertexShader_.Put(), nullptr, nullptr);
        context->GSGetShader(geometryShader_.Put(), nullptr, nullptr);
        context->PSGetShader(pixelShader_.Put(), nullptr, nullptr);
        context->PSGetShaderResources(0, 1, view_.Put());
        context->PSGetConstantBuffers(0, 1, constants_.Put());
        context->RSGetState(rasterizer_.Put());
        context->OMGetBlendState(blend_.Put(), blendFactor_, &sampleMask_);
        context->OMGetDepthStencilState(depth_.Put(), &stencilRef_);
    }
    ~SavedPipeline() {
        context_->IASetInputLayout(layout_.Get());
        context_->IASetPrimitiveTopology(topology_);
        context_->VSSetShader(vertexShader_.Get(), nullptr, 0);
        context_->GSSetShader(geometryShader_.Get(), nullptr, 0);
        context_->PSSetShader(pixelShader_.Get(), nullptr, 0);
        ID3D11ShaderResourceView* view = view_.Get();
        context_->PSSetShaderResources(0, 1, &view);
        ID3D11Buffer* constants = constants_.Get();
        context_->PSSetConstantBuffers(0, 1, &constants);
        context_->RSSetState(rasterizer_.Get());
        context_->OMSetBlendState(blend_.Get(), blendFactor_, sampleMask_);
        context_->OMSetDepthStencilState(depth_.Get(), stencilRef_);
    }
    SavedPipeline(const SavedPipeline&) = delete;
    SavedPipeline& operator=(const SavedPipeline&) = delete;

private:
    ID3D11DeviceContext* context_;
    Ref<ID3D11InputLayout> layout_;
    D3D11_PRIMITIVE_TOPOLOGY topology_ = D3D11_PRIMITIVE_TOPOLOGY_UNDEFINED;
    Ref<ID3D11VertexShader> vertexShader_;
    Ref<ID3D11GeometryShader> geometryShader_;
    Ref<ID3D11PixelShader> pixelShader_;
    Ref<ID3D11ShaderResourceView> view_;
    Ref<ID3D11Buffer> constants_;
    Ref<ID3D11RasterizerState> rasterizer_;
    Ref<ID3D11BlendState> blend_;
    FLOAT blendFactor_[4] = {};
    UINT sampleMask_ = 0;
    Ref<ID3D11DepthStencilState> depth_;
    UINT stencilRef_ = 0;
};

}  // namespace

struct DX11WeaverBase::Impl {
    explicit Impl(LensContext& lensContext) : eyes(lensContext) {}

    // Everything the weave draws with; false (and the weaver unusable) when any of it fails.
    bool Create(unsigned frameWidth, unsigned frameHeight) {
        D3D11_TEXTURE2D_DESC desc{};
        desc.Width = frameWidth;
        desc.Height = frameHeight;
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        // The swap chain's byte order: the stage is drawn in it and the weave writes it.
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc.Count = 1;
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
        D3D11_BUFFER_DESC constantsDesc{};
        constantsDesc.ByteWidth = sizeof(WeaveConstants);
        constantsDesc.Usage = D3D11_USAGE_DYNAMIC;
        constantsDesc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
        constantsDesc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
        // The caller may have a depth buffer bound: the weave neither tests nor writes it.
        D3D11_DEPTH_STENCIL_DESC depthDesc{};
        depthDesc.DepthEnable = FALSE;
        depthDesc.DepthWriteMask = D3D11_DEPTH_WRITE_MASK_ZERO;
        depthDesc.DepthFunc = D3D11_COMPARISON_ALWAYS;
        return SUCCEEDED(device->CreateTexture2D(&desc, nullptr, frameBuffer.Put())) &&
               SUCCEEDED(device->CreateRenderTargetView(frameBuffer.Get(), nullptr, frameBufferTarget.Put())) &&
               SUCCEEDED(device->CreateShaderResourceView(frameBuffer.Get(), nullptr, frameBufferView.Put())) &&
               SUCCEEDED(device->CreateVertexShader(bytecode::kWeaveVs, sizeof bytecode::kWeaveVs, nullptr,
                                                    vertexShader.Put())) &&
               SUCCEEDED(device->CreatePixelShader(bytecode::kWeavePs, sizeof bytecode::kWeavePs, nullptr,
                                                   pixelShader.Put())) &&
               SUCCEEDED(device->CreateBuffer(&constantsDesc, nullptr, constants.Put())) &&
               SUCCEEDED(device->CreateDepthStencilState(&depthDesc, noDepth.Put()));
    }

    bool WriteConstants(const WeaveConstants& values) {
        D3D11_MAPPED_SUBRESOURCE mapped{};
        if (FAILED(context->Map(constants.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped))) return false;
        std::memcpy(mapped.pData, &values, sizeof values);
        context->Unmap(constants.Get(), 0);
        return true;
    }

    void Draw() {
        context->IASetInputLayout(nullptr);
        context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
        context->VSSetShader(vertexShader.Get(), nullptr, 0);
        context->GSSetShader(nullptr, nullptr, 0);
        context->PSSetShader(pixelShader.Get(), nullptr, 0);
        ID3D11ShaderResourceView* view = frameBufferView.Get();
        context->PSSetShaderResources(0, 1, &view);
        ID3D11Buffer* buffer = constants.Get();
        context->PSSetConstantBuffers(0, 1, &buffer);
        context->RSSetState(nullptr);
        context->OMSetBlendState(nullptr, nullptr, 0xFFFFFFFF);
        context->OMSetDepthStencilState(noDepth.Get(), 0);
        context->Draw(3, 0);
    }

    WeaverEyes eyes;
    WeaveSettings settings;
    Ref<ID3D11Device> device;
    Ref<ID3D11DeviceContext> context;
    unsigned viewWidth = 0;
    unsigned viewHeight = 0;
    Ref<ID3D11Texture2D> frameBuffer;
    Ref<ID3D11RenderTargetView> frameBufferTarget;
    Ref<ID3D11ShaderResourceView> frameBufferView;
    Ref<ID3D11VertexShader> vertexShader;
    Ref<ID3D11PixelShader> pixelShader;
    Ref<ID3D11Buffer> constants;
    Ref<ID3D11DepthStencilState> noDepth;
    bool ready = false;
};

DX11WeaverBase::DX11WeaverBase(LensContext& context, ID3D11Device* device, ID3D11DeviceContext* deviceContext,
                               unsigned width, unsigned height)
    : impl_(std::make_unique<Impl>(context)) {
    if (device == nullptr || deviceContext == nullptr || width < 2 || height == 0 ||
        width > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION || height > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION) {
        return;
    }
    impl_->device = Ref<ID3D11Device>::Retain(device);
    impl_->context = Ref<ID3D11DeviceContext>::Retain(deviceContext);
    impl_->viewWidth = width / 2;
    impl_->viewHeight = height;
    impl_->ready = impl_->Create(width, height);
}

DX11WeaverBase::~DX11WeaverBase() = default;

ID3D11RenderTargetView* DX11WeaverBase::getFrameBuffer() {
    return impl_->ready ? impl_->frameBufferTarget.Get() : nullptr;
}

const WeaveSettings& DX11WeaverBase::settings() const { return impl_->settings; }

void DX11WeaverBase::setSettings(const WeaveSettings& settings) { impl_->settings = settings; }

void DX11WeaverBase::weave(unsigned width, unsigned height) {
    Impl& w = *impl_;
    if (!w.ready || width == 0 || height == 0 || !UsableSettings(w.settings)) return;
    // The woven pixel's column and row count from the viewport's corner, wherever it sits.
    D3D11_VIEWPORT viewport{};
    UINT viewports = 1;
    w.context->RSGetViewports(&viewports, &viewport);
    if (viewports == 0) viewport = D3D11_VIEWPORT{};
    const WeaveConstants constants =
        ConstantsFor(w.settings, w.eyes.latest(), width, height, w.viewWidth, w.viewHeight, viewport);
    if (!w.WriteConstants(constants)) return;
    const SavedPipeline saved(w.context.Get());
    w.Draw();
}

DX11Weaver::DX11Weaver(LensContext& context, ID3D11Device* device, ID3D11DeviceContext* deviceContext,
                       unsigned width, unsigned height)
    : DX11WeaverBase(context, device, deviceContext, width, height) {}

DX11Weaver::~DX11Weaver() = default;

}  // namespace lens
