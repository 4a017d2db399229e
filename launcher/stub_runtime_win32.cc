// The parts of the C++ runtime that the Windows installer takes from here
// rather than from the statically linked standard library: allocation, and
// the library's exits for errors it would throw.
//
// The library's own allocation and error exits raise C++ exceptions, and
// with them come the unwinder, the exception classes and their strings, and
// the terminate handler that names the exception (with a demangler and a
// printf): most of the installer's size. The installer is built without
// exceptions, and nothing in it catches one: where the library would throw,
// the installer ends as an uncaught exception would have ended it, with
// abort(). Allocations that may fail without ending the run are made with
// malloc or the nothrow forms, which answer null.
#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void out_of_memory() { std::abort(); }

void* allocate(std::size_t size) noexcept { return std::malloc(size == 0 ? 1 : size); }

void* allocate_aligned(std::size_t size, std::align_val_t alignment) noexcept {
    return _aligned_malloc(size == 0 ? 1 : size, static_cast<std::size_t>(alignment));
}

void* or_out_of_memory(void* block) {
    if (!block) out_of_memory();
    return block;
}

}  // namespace

void* operator new(std::size_t size) { return or_out_of_memory(allocate(size)); }
void* operator new[](std::size_t size) { return or_out_of_memory(allocate(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

void* operator new(std::size_t size, std::align_val_t alignment) {
    return or_out_of_memory(allocate_aligned(size, alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return or_out_of_memory(allocate_aligned(size, alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, alignment);
}
void operator delete(void* block, std::align_val_t) noexcept { _aligned_free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { _aligned_free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { _aligned_free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { _aligned_free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { _aligned_free(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { _aligned_free(block); }

// The library's error exits, which its inline code calls where it would
// throw (a string or vector past its largest size, an empty std::function
// called). All of them are defined here, so that the library's own
// definitions, which come as one piece, are never linked in.
namespace std {
void __throw_bad_exception() { abort(); }
void __throw_bad_alloc() { out_of_memory(); }
void __throw_bad_array_new_length() { out_of_memory(); }
void __throw_bad_cast() { abort(); }
void __throw_bad_typeid() { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_domain_error(const char*) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_runtime_error(const char*) { abort(); }
void __throw_range_error(const char*) { abort(); }
void __throw_overflow_error(const char*) { abort(); }
void __throw_underflow_error(const char*) { abort(); }
void __throw_bad_function_call() { abort(); }
}  // namespace std

// A pure or deleted virtual function called through a half-built or
// half-destroyed object.
extern "C" void __cxa_pure_virtual() { std::abort(); }
extern "C" void __cxa_deleted_virtual() { std::abort(); }
