// The fixed pipelines on a Direct3D 11 immediate context: the compositor's projection and quad
// pipelines and the display side's full-screen copy. Every pipeline object is made once per
// device; a draw only updates its constant and vertex buffers, binds and draws.
//
// Matrices: a Matrix's register k (elements 4k to 4k + 3) is uploaded as constant register k
// unchanged, and the shaders declare their matrices row_major and compute output component k
// as dot(position, row k). Row k of a row_major float4x4 is constant register k, so the HLSL
// dot-product form gives exactly the contract's transform, with no transposition anywhere.
#include "gpu/d3d11/d3d_core.h"
#include "gpu/draw.h"

#include "shader_bytecode/copy_ps.h"
#include "shader_bytecode/projection_array_ps.h"
#include "shader_bytecode/projection_ps.h"
#include "shader_bytecode/projection_vs.h"
#include "shader_bytecode/quad_array_ps.h"
#include "shader_bytecode/quad_ps.h"
#include "shader_bytecode/quad_vs.h"

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qor::gpu::d3d11 {
namespace {

// ImageInfoBuffer of the projection pixel shader.
struct ImageInfo {
    int32_t index;
    int32_t gammaCorrect;
    int32_t fill[2];
};
static_assert(sizeof(ImageInfo) == 16, "constant buffers are whole 16-byte registers");
static_assert(sizeof(Vertex) == 20, "the input layout's stride");
static_assert(sizeof(QuadVertices) == 120, "six vertices");
static_assert(sizeof(Matrix) == 64, "four registers");

constexpr UINT kStride = sizeof(Vertex);
constexpr uint16_t kIndices[6] = {0, 1, 2, 3, 4, 5};
constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Two triangles over the whole viewport, sampling [u0, u1] × [v0, v1] (v0 at the top).
QuadVertices Rectangle(float u0, float v0, float u1, float v1) {
    return {{{{-1, -1, 0}, {u0, v1}},
             {{-1, 1, 0}, {u0, v0}},
             {{1, 1, 0}, {u1, v0}},
             {{-1, -1, 0}, {u0, v1}},
             {{1, 1, 0}, {u1, v0}},
             {{1, -1, 0}, {u1, v1}}}};
}

D3D11_VIEWPORT NativeViewport(const Viewport& viewport) {
    return {viewport.x, viewport.y, viewport.width, viewport.height, 0.0f, 1.0f};
}

// Blending on for all eight targets with the given factors for colour; alpha is taken from
// the source as is.
D3D11_BLEND_DESC BlendDesc(D3D11_BLEND source, D3D11_BLEND destination, UINT8 writeMask) {
    D3D11_BLEND_DESC desc {};
    desc.AlphaToCoverageEnable = FALSE;
    desc.IndependentBlendEnable = FALSE;
    for (D3D11_RENDER_TARGET_BLEND_DESC& target : desc.RenderTarget) {
        target.BlendEnable = TRUE;
        target.SrcBlend = source;
        target.DestBlend = destination;
        target.BlendOp = D3D11_BLEND_OP_ADD;
        target.SrcBlendAlpha = D3D11_BLEND_ONE;
        target.DestBlendAlpha = D3D11_BLEND_ZERO;
        target.BlendOpAlpha = D3D11_BLEND_OP_ADD;
        target.RenderTargetWriteMask = writeMask;
    }
    return desc;
}

D3D11_SAMPLER_DESC SamplerDesc(D3D11_FILTER filter, D3D11_TEXTURE_ADDRESS_MODE address) {
    D3D11_SAMPLER_DESC desc {};
    desc.Filter = filter;
    desc.AddressU = address;
    desc.AddressV = address;
    desc.AddressW = address;
    desc.MipLODBias = 0;
    desc.MaxAnisotropy = 1;
    desc.ComparisonFunc = D3D11_COMPARISON_NEVER;
    desc.MinLOD = 0;
    desc.MaxLOD = FLT_MAX;
    return desc;
}

class D3D11DrawContext final : public DrawContext {
public:
    explicit D3D11DrawContext(std::shared_ptr<D3D11Core> core) : core_(std::move(core)) {}

    // Makes every pipeline object; false at the first one that cannot be made.
    bool Create() {
        ID3D11Device* device = core_->device.Get();
        const D3D11_BLEND_DESC opaque = BlendDesc(D3D11_BLEND_ONE, D3D11_BLEND_ZERO,
                                                  D3D11_COLOR_WRITE_ENABLE_RED | D3D11_COLOR_WRITE_ENABLE_GREEN |
                                                      D3D11_COLOR_WRITE_ENABLE_BLUE);
        const D3D11_BLEND_DESC alpha =
            BlendDesc(D3D11_BLEND_SRC_ALPHA, D3D11_BLEND_INV_SRC_ALPHA, D3D11_COLOR_WRITE_ENABLE_ALL);
        if (FAILED(device->CreateBlendState(&opaque, opaqueBlend_.Put()))) return false;
        if (FAILED(device->CreateBlendState(&alpha, alphaBlend_.Put()))) return false;

        const D3D11_INPUT_ELEMENT_DESC layout[] = {
            {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 12, D3D11_INPUT_PER_VERTEX_DATA, 0},
        };
        if (FAILED(device->CreateInputLayout(layout, 2, bytecode::kProjectionVs, sizeof bytecode::kProjectionVs,
                                             inputLayout_.Put()))) {
            return false;
        }
        if (FAILED(device->CreateVertexShader(bytecode::kProjectionVs, sizeof bytecode::kProjectionVs, nullptr,
                                              projectionVs_.Put())) ||
            FAILED(device->CreatePixelShader(bytecode::kProjectionPs, sizeof bytecode::kProjectionPs, nullptr,
                                             projectionPs_.Put())) ||
            FAILED(device->CreateVertexShader(bytecode::kQuadVs, sizeof bytecode::kQuadVs, nullptr, quadVs_.Put())) ||
            FAILED(device->CreatePixelShader(bytecode::kQuadPs, sizeof bytecode::kQuadPs, nullptr, quadPs_.Put())) ||
            FAILED(device->CreatePixelShader(bytecode::kCopyPs, sizeof bytecode::kCopyPs, nullptr, copyPs_.Put())) ||
            FAILED(device->CreatePixelShader(bytecode::kProjectionArrayPs, sizeof bytecode::kProjectionArrayPs, nullptr,
                                             projectionArrayPs_.Put())) ||
            FAILED(device->CreatePixelShader(bytecode::kQuadArrayPs, sizeof bytecode::kQuadArrayPs, nullptr,
                                             quadArrayPs_.Put()))) {
            return false;
        }

        const QuadVertices fullScreen = Rectangle(0, 0, 1, 1);
        indexBuffer_ = MakeBuffer(sizeof kIndices, D3D11_BIND_INDEX_BUFFER, kIndices, D3D11_USAGE_DEFAULT);
        projectionVertices_ = MakeBuffer(sizeof fullScreen, D3D11_BIND_VERTEX_BUFFER, &fullScreen, D3D11_USAGE_DEFAULT);
        quadVertices_ = MakeBuffer(sizeof fullScreen, D3D11_BIND_VERTEX_BUFFER, &fullScreen, D3D11_USAGE_DEFAULT);
        copyVertices_ = MakeBuffer(sizeof fullScreen, D3D11_BIND_VERTEX_BUFFER, &fullScreen, D3D11_USAGE_DEFAULT);
        projectionModel_ = MakeBuffer(sizeof(Matrix), D3D11_BIND_CONSTANT_BUFFER, &kIdentity, D3D11_USAGE_DEFAULT);
        const ImageInfo noImage {};
        imageInfo_ = MakeBuffer(sizeof noImage, D3D11_BIND_CONSTANT_BUFFER, &noImage, D3D11_USAGE_DEFAULT);
        quadModel_ = MakeBuffer(sizeof(Matrix), D3D11_BIND_CONSTANT_BUFFER, &kIdentity, D3D11_USAGE_DEFAULT);
        quadViewProjection_ = MakeBuffer(sizeof(Matrix), D3D11_BIND_CONSTANT_BUFFER, &kIdentity, D3D11_USAGE_DEFAULT);
        // The copy runs the projection vertex shader with positions already in clip space.
        copyModel_ = MakeBuffer(sizeof(Matrix), D3D11_BIND_CONSTANT_BUFFER, &kIdentity, D3D11_USAGE_IMMUTABLE);
        if (!indexBuffer_ || !projectionVertices_ || !quadVertices_ || !copyVertices_ || !projectionModel_ ||
            !imageInfo_ || !quadModel_ || !quadViewProjection_ || !copyModel_) {
            return false;
        }

        // The compositor samples with wrap addressing; the display side's copy clamps, with
        // point filtering between mip levels.
        const D3D11_SAMPLER_DESC wrap = SamplerDesc(D3D11_FILTER_MIN_MAG_MIP_LINEAR, D3D11_TEXTURE_ADDRESS_WRAP);
        const D3D11_SAMPLER_DESC clamp =
            SamplerDesc(D3D11_FILTER_MIN_MAG_LINEAR_MIP_POINT, D3D11_TEXTURE_ADDRESS_CLAMP);
        return SUCCEEDED(device->CreateSamplerState(&wrap, wrapSampler_.Put())) &&
               SUCCEEDED(device->CreateSamplerState(&clamp, clampSampler_.Put()));
    }

    // Without a render target view there is no target: later clears and draws go nowhere.
    bool SetRenderTarget(Texture& target) override {
        std::lock_guard<std::mutex> guard(core_->contextLock);
        target_ = Ref<ID3D11RenderTargetView>::Retain(RenderTargetViewOf(target, *core_));
        ID3D11RenderTargetView* view = target_.Get();
        core_->context->OMSetRenderTargets(view == nullptr ? 0 : 1, view == nullptr ? nullptr : &view, nullptr);
        targetTexture_ = target_ ? &target : nullptr;
        return static_cast<bool>(target_);
    }

    Texture* RenderTarget() const override {
        std::lock_guard<std::mutex> guard(core_->contextLock);
        return targetTexture_;
    }

    void Clear(float r, float g, float b, float a) override {
        std::lock_guard<std::mutex> guard(core_->contextLock);
        if (!target_) return;
        const float color[4] = {r, g, b, a};
        core_->context->ClearRenderTargetView(target_.Get(), color);
    }

    void DrawProjection(const QuadVertices& vertices, const Matrix& model, const Viewport& viewport, Texture& source,
                        uint32_t arrayIndex, bool gammaCorrect) override {
        std::lock_guard<std::mutex> guard(core_->contextLock);
        ID3D11DeviceContext* context = core_->context.Get();
        const ImageInfo info {static_cast<int32_t>(arrayIndex), gammaCorrect ? 1 : 0, {0, 0}};
        context->UpdateSubresource(projectionModel_.Get(), 0, nullptr, model.data(), 0, 0);
        context->UpdateSubresource(imageInfo_.Get(), 0, nullptr, &info, 0, 0);
        context->UpdateSubresource(projectionVertices_.Get(), 0, nullptr, vertices.data(), 0, 0);

        ID3D11Buffer* vertexConstants[] = {projectionModel_.Get()};
        ID3D11Buffer* pixelConstants[] = {imageInfo_.Get()};
        const SourceView view = ViewOf(source, arrayIndex);
        Draw(projectionVertices_.Get(), projectionVs_.Get(), vertexConstants, 1,
             view.array ? projectionArrayPs_.Get() : projectionPs_.Get(), pixelConstants, 1, wrapSampler_.Get(),
             opaqueBlend_.Get(), viewport, view.view.Get());
    }

    void DrawQuad(const QuadVertices& vertices, const Matrix& model, const Matrix& viewProjection,
                  const Viewport& viewport, Texture& source) override {
        std::lock_guard<std::mutex> guard(core_->contextLock);
        ID3D11DeviceContext* context = core_->context.Get();
        context->UpdateSubresource(quadModel_.Get(), 0, nullptr, model.data(), 0, 0);
        context->UpdateSubresource(quadViewProjection_.Get(), 0, nullptr, viewProjection.data(), 0, 0);
        context->UpdateSubresource(quadVertices_.Get(), 0, nullptr, vertices.data(), 0, 0);

        ID3D11Buffer* vertexConstants[] = {quadModel_.Get(), quadViewProjection_.Get()};
        const SourceView view = ViewOf(source, 0);
        Draw(quadVertices_.Get(), quadVs_.Get(), vertexConstants, 2, view.array ? quadArrayPs_.Get() : quadPs_.Get(),
             nullptr, 0, wrapSampler_.Get(), alphaBlend_.Get(), viewport, view.view.Get());
    }

    // No blend state: the copy is opaque and writes every channel.
    void DrawCopy(Texture& source, const Viewport& viewport, float u0, float v0, float u1, float v1) override {
        std::lock_guard<std::mutex> guard(core_->contextLock);
        const QuadVertices vertices = Rectangle(u0, v0, u1, v1);
        core_->context->UpdateSubresource(copyVertices_.Get(), 0, nullptr, vertices.data(), 0, 0);

        ID3D11Buffer* vertexConstants[] = {copyModel_.Get()};
        Draw(copyVertices_.Get(), projectionVs_.Get(), vertexConstants, 1, copyPs_.Get(), nullptr, 0,
             clampSampler_.Get(), nullptr, viewport, ShaderResourceViewOf(source, *core_));
    }

    void Flush() override {
        std::lock_guard<std::mutex> guard(core_->contextLock);
        core_->context->Flush();
    }

private:
    struct SourceView {
        Ref<ID3D11ShaderResourceView> view;
        bool array = false;  // a Texture2DArray view, for the array variants of the shaders
    };

    // What a compositor pipeline samples: the texture's own view, or for an array texture a
    // view of the one slice (the last one when the index is past the end), so the image's
    // array index chooses the slice as the application meant.
    SourceView ViewOf(Texture& source, uint32_t arrayIndex) {
        SourceView result;
        ID3D11ShaderResourceView* own = ShaderResourceViewOf(source, *core_);
        result.view = Ref<ID3D11ShaderResourceView>::Retain(own);
        const TextureDesc& desc = source.Desc();
        if (own == nullptr || desc.arraySize < 2) return result;
        D3D11_SHADER_RESOURCE_VIEW_DESC slice {};
        own->GetDesc(&slice);
        slice.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2DARRAY;
        slice.Texture2DArray.MostDetailedMip = 0;
        slice.Texture2DArray.MipLevels = desc.mipLevels;
        slice.Texture2DArray.FirstArraySlice = std::min(arrayIndex, desc.arraySize - 1);
        slice.Texture2DArray.ArraySize = 1;
        Ref<ID3D11ShaderResourceView> made;
        ID3D11Resource* resource = nullptr;
        own->GetResource(&resource);
        const bool created = resource != nullptr &&
                             SUCCEEDED(core_->device->CreateShaderResourceView(resource, &slice, made.Put()));
        if (resource != nullptr) resource->Release();
        // The texture's own view is an array view as well; without a slice view it shows slice 0.
        if (created) result.view = std::move(made);
        result.array = true;
        return result;
    }

    Ref<ID3D11Buffer> MakeBuffer(UINT size, UINT bindFlags, const void* initial, D3D11_USAGE usage) {
        D3D11_BUFFER_DESC desc {};
        desc.ByteWidth = size;
        desc.Usage = usage;
        desc.BindFlags = bindFlags;
        const D3D11_SUBRESOURCE_DATA data {initial, 0, 0};
        Ref<ID3D11Buffer> buffer;
        if (FAILED(core_->device->CreateBuffer(&desc, &data, buffer.Put()))) return {};
        return buffer;
    }

    // Binds one whole pipeline and draws six indices. A null view (a source without a view of
    // this device) leaves slot 0 empty, which samples as zero. Called with the context lock held.
    void Draw(ID3D11Buffer* vertexBuffer, ID3D11VertexShader* vertexShader, ID3D11Buffer* const* vertexConstants,
              UINT vertexConstantCount, ID3D11PixelShader* pixelShader, ID3D11Buffer* const* pixelConstants,
              UINT pixelConstantCount, ID3D11SamplerState* sampler, ID3D11BlendState* blend, const Viewport& viewport,
              ID3D11ShaderResourceView* view) {
        if (!target_) return;
        ID3D11DeviceContext* context = core_->context.Get();
        const UINT offset = 0;
        context->IASetInputLayout(inputLayout_.Get());
        context->IASetVertexBuffers(0, 1, &vertexBuffer, &kStride, &offset);
        context->IASetIndexBuffer(indexBuffer_.Get(), DXGI_FORMAT_R16_UINT, 0);
        context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
        context->VSSetShader(vertexShader, nullptr, 0);
        context->VSSetConstantBuffers(0, vertexConstantCount, vertexConstants);
        const D3D11_VIEWPORT native = NativeViewport(viewport);
        context->RSSetViewports(1, &native);
        context->RSSetState(nullptr);
        context->PSSetShader(pixelShader, nullptr, 0);
        if (pixelConstantCount > 0) context->PSSetConstantBuffers(0, pixelConstantCount, pixelConstants);
        context->PSSetSamplers(0, 1, &sampler);
        context->PSSetShaderResources(0, 1, &view);
        context->OMSetBlendState(blend, nullptr, 0xFFFFFFFF);
        ID3D11RenderTargetView* target = target_.Get();
        context->OMSetRenderTargets(1, &target, nullptr);
        context->DrawIndexed(6, 0, 0);
        // The source may be a render target next; a bound view of it would be a hazard.
        ID3D11ShaderResourceView* none = nullptr;
        context->PSSetShaderResources(0, 1, &none);
    }

    std::shared_ptr<D3D11Core> core_;
    Texture* targetTexture_ = nullptr;
    Ref<ID3D11BlendState> opaqueBlend_;
    Ref<ID3D11BlendState> alphaBlend_;
    Ref<ID3D11InputLayout> inputLayout_;
    Ref<ID3D11VertexShader> projectionVs_;
    Ref<ID3D11PixelShader> projectionPs_;
    Ref<ID3D11VertexShader> quadVs_;
    Ref<ID3D11PixelShader> quadPs_;
    Ref<ID3D11PixelShader> copyPs_;
    Ref<ID3D11PixelShader> projectionArrayPs_;
    Ref<ID3D11PixelShader> quadArrayPs_;
    Ref<ID3D11Buffer> indexBuffer_;
    Ref<ID3D11Buffer> projectionVertices_;
    Ref<ID3D11Buffer> quadVertices_;
    Ref<ID3D11Buffer> copyVertices_;
    Ref<ID3D11Buffer> projectionModel_;
    Ref<ID3D11Buffer> imageInfo_;
    Ref<ID3D11Buffer> quadModel_;
    Ref<ID3D11Buffer> quadViewProjection_;
    Ref<ID3D11Buffer> copyModel_;
    Ref<ID3D11SamplerState> wrapSampler_;
    Ref<ID3D11SamplerState> clampSampler_;
    Ref<ID3D11RenderTargetView> target_;
};

}  // namespace

std::unique_ptr<DrawContext> CreateDrawContext(std::shared_ptr<D3D11Core> core) {
    if (!core || !core->device || !core->context) return nullptr;
    auto context = std::make_unique<D3D11DrawContext>(std::move(core));
    if (!context->Create()) return nullptr;
    return context;
}

}  // namespace qor::gpu::d3d11
