#include "common/secret_store.h"

namespace tessaly {

void wipe(std::string& secret) noexcept {
    // Through a volatile pointer, so that the stores are not dropped as dead before the clear.
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i)
        p[i] = 0;
    secret.clear();
}

} // namespace tessaly
