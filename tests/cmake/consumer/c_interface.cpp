// Links the shared library and asks its C interface for the contract version.
#include <cstdint>
#include <cstdio>

extern "C" std::uint32_t ffi_lumenfold_python_uniffi_contract_version();

int main() {
    const std::uint32_t v = ffi_lumenfold_python_uniffi_contract_version();
    std::printf("contract version %u\n", v);
    return v == 30 ? 0 : 1;
}
