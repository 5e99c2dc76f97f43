// One small owning wrapper for the handles the program opens: kernel handles, file
// and find handles, registry keys, GDI objects, icons and device contexts. Each
// owner closes its handle exactly once, so an early return never leaks one.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    [[nodiscard]] Type get() const noexcept { return value_; }
    [[nodiscard]] bool valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Releases ownership without closing.
    Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    // Closing keeps the thread's last error: a failure path that closes its
    // handles on the way out still reports the call that failed, not the close.
    void reset(Type value = Traits::Invalid()) noexcept {
        Type old = std::exchange(value_, value);
        if (old == Traits::Invalid()) return;
        const DWORD error = ::GetLastError();
        Traits::Close(old);
        ::SetLastError(error);
    }

    // For APIs that return a handle through an out parameter (RegOpenKeyExW...).
    Type* put() noexcept {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::Invalid();
};

namespace resource_traits {

struct KernelHandle {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

// CreateFileW reports failure with INVALID_HANDLE_VALUE rather than null.
struct FileHandle {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FindHandle {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

struct RegistryKey {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

template <typename T>
struct GdiObject {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};

struct Icon {
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DestroyIcon(h); }
};

struct DeviceContext {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteDC(h); }
};

struct LocalMemory {
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::LocalFree(h); }
};

}  // namespace resource_traits

using UniqueHandle = UniqueResource<resource_traits::KernelHandle>;
using UniqueFileHandle = UniqueResource<resource_traits::FileHandle>;
using UniqueFindHandle = UniqueResource<resource_traits::FindHandle>;
using UniqueRegKey = UniqueResource<resource_traits::RegistryKey>;
using UniqueFont = UniqueResource<resource_traits::GdiObject<HFONT>>;
using UniqueBrush = UniqueResource<resource_traits::GdiObject<HBRUSH>>;
using UniqueBitmap = UniqueResource<resource_traits::GdiObject<HBITMAP>>;
using UniqueIcon = UniqueResource<resource_traits::Icon>;
using UniqueDc = UniqueResource<resource_traits::DeviceContext>;
using UniqueLocalMemory = UniqueResource<resource_traits::LocalMemory>;
