#include "ProductValues.h"

namespace myexternalmethods {

const stubframework::core::ProductValues& BrindlemarkProduct() {
    static const stubframework::core::ProductValues product{"Brindlemark", "24.0.0", "test"};
    return product;
}

}  // namespace myexternalmethods
