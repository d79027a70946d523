#include "front/front.h"

namespace nolva::front {

// Record order, as the words lie in the flash file.
const RecordField<ServiceSettings> kServiceFields[11] = {
    {"svcWord0", &ServiceSettings::svcWord0, nullptr},
    {"primaryEnabled", &ServiceSettings::primaryEnabled, nullptr},
    {"secondaryEnabled", &ServiceSettings::secondaryEnabled, nullptr},
    {"primaryPort", &ServiceSettings::primaryPort, &ServiceSettings::primaryEnabled},
    {"primaryValue", &ServiceSettings::primaryValue, nullptr},
    {"svcWord5", &ServiceSettings::svcWord5, nullptr},
    {"svcWord6", &ServiceSettings::svcWord6, nullptr},
    {"svcWord7", &ServiceSettings::svcWord7, nullptr},
    {"secondaryPort", &ServiceSettings::secondaryPort, &ServiceSettings::secondaryEnabled},
    {"secondaryValue", &ServiceSettings::secondaryValue, nullptr},
    {"svcWord10", &ServiceSettings::svcWord10, nullptr},
};

const RecordField<OcpSettings> kOcpFields[7] = {
    {"ocpEnabled", &OcpSettings::ocpEnabled, nullptr},
    {"ocpWord1", &OcpSettings::ocpWord1, nullptr},
    {"ocpWord2", &OcpSettings::ocpWord2, nullptr},
    {"ocpWord3", &OcpSettings::ocpWord3, nullptr},
    {"ocpWord4", &OcpSettings::ocpWord4, nullptr},
    {"ocpPort", &OcpSettings::ocpPort, &OcpSettings::ocpEnabled},
    {"ocpValue", &OcpSettings::ocpValue, nullptr},
};

}  // namespace nolva::front
