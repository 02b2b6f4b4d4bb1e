#include "ordered_pipeline.h"

#include <algorithm>

namespace arcovelo {

int DefaultWorkerCount()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

}  // namespace arcovelo
