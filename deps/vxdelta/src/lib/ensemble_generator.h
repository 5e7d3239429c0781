// Internal: the ensemble patch generator with its element policy exposed,
// so that tests can hold the element pipeline to a byte-exact round trip
// even where a whole-file diff would be smaller.
#pragma once

#include "streams.h"
#include "vxdelta.h"

namespace vxdelta {

enum class ElementUse {
    // Elements only when their patch is smaller and applies back exactly.
    kWhenSmaller,
    // Elements whenever old and new have a pair of them; C_GENERAL_ERROR
    // when that patch cannot be built or does not apply back exactly.
    kAlways,
};

Status GenerateEnsemblePatch(const ReadStream &old, const ReadStream &newData, WriteStream *patch,
                             ElementUse use);

}  // namespace vxdelta
