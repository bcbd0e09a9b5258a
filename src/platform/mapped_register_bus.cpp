#include "platform/mapped_register_bus.h"

namespace hx {

std::unique_ptr<MappedRegisterBus> MappedRegisterBus::Open(const std::string& path, off_t offset, OpenError& error) {
    std::unique_ptr<PhysicalWindow> window = PhysicalWindow::Map(path, offset, kRegisterWindowBytes, error);
    if (!window) {
        return nullptr;
    }
    return std::unique_ptr<MappedRegisterBus>(new MappedRegisterBus(std::move(window)));
}

volatile U32* MappedRegisterBus::Word(U32 index) const {
    return window_->Word(static_cast<std::size_t>(index) * kRegisterStride);
}

U32 MappedRegisterBus::Read(U32 index) { return *Word(index); }

void MappedRegisterBus::Write(U32 index, U32 value) { *Word(index) = value; }

}  // namespace hx
