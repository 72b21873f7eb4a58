// What the Direct3D 11 backend's files share: owned COM references, the state of a device
// that its textures and its draw context hold, and the texture views the draws bind.
#pragma once

#include "gpu/device.h"
#include "gpu/draw.h"

#include <d3d11.h>

#include <memory>
#include <mutex>
#include <utility>

namespace qor::gpu::d3d11 {

// An owned COM reference.
template <typename T>
class Ref {
public:
    Ref() = default;
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }

    // A further reference to an object someone else owns.
    static Ref Retain(T* object) {
        Ref ref;
        if (object != nullptr) object->AddRef();
        ref.object_ = object;
        return ref;
    }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    T** Put() {
        Reset();
        return &object_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (object_ != nullptr) object_->Release();
        object_ = nullptr;
    }
    template <typename U>
    Ref<U> As() const {
        Ref<U> other;
        if (object_ != nullptr) object_->QueryInterface(__uuidof(U), other.PutVoid());
        return other;
    }

private:
    T* object_ = nullptr;
};

// What a Direct3D 11 device and its textures share: textures keep the device alive, and the
// immediate context is used by one of them at a time.
struct D3D11Core {
    Ref<ID3D11Device> device;
    Ref<ID3D11DeviceContext> context;
    std::mutex contextLock;
};

// The views of a texture for drawing on `core`'s device; null when the texture is not a
// Direct3D 11 texture of that device or has no such view. (d3d_device.cpp)
ID3D11RenderTargetView* RenderTargetViewOf(Texture& texture, const D3D11Core& core);
ID3D11ShaderResourceView* ShaderResourceViewOf(Texture& texture, const D3D11Core& core);

// Makes the fixed pipelines on the core's device; null when any of their objects cannot be
// made. (d3d_draw.cpp)
std::unique_ptr<DrawContext> CreateDrawContext(std::shared_ptr<D3D11Core> core);

}  // namespace qor::gpu::d3d11
