#include "DataObject/Label.h"

#include "Common/Assert.h"

namespace synapsor {

TLabelList::TLabelList(const char* name, double value) {
    SYN_ASSERT(name != nullptr);
    labels.push_back(TLabel{value, name});
}

void TLabelList::AddLabel(const char* name, double value) {
    SYN_ASSERT(name != nullptr);
    for (TLabel& label : labels) {
        if (label.name == name) {
            label.value += value;
            return;
        }
    }
    labels.push_back(TLabel{value, name});
}

}  // namespace synapsor
