#include "profile_selection/AutomaticProfileSelectionSettings.h"

#include "common/logging/Log.h"
#include "settings_store/Orrery.h"

bool AutomaticProfileSelectionRule::initializeFromOrreryObject(PyxOrreryObject object) {
    int err = 1;
    // A missing member is a store error too (not found): such a rule is dropped.
    priority = Orrery::getObjectInt64(object, L"priority", kDefaultPriority, &err);
    if (err != PYX_ORRERY_OK) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "priority reading error: " << PyxOrrery_ErrorAsString(err);
        return false;
    }
    const std::pair<const wchar_t*, std::wstring*> texts[] = {
        {L"profile_name", &profileName}, {L"method1", &method1},     {L"argument1", &argument1},
        {L"method2", &method2},          {L"argument2", &argument2},
    };
    for (const auto& [key, field] : texts) {
        *field = Orrery::getObjectString(object, key, &err);
        if (err != PYX_ORRERY_OK) {
            TARN_LOG(TarnPyxLogging::LevelWarning)
                << key << " reading error: " << PyxOrrery_ErrorAsString(err);
            return false;
        }
    }
    return true;
}

void AutomaticProfileSelectionSettings::initializeFromOrreryObject(PyxOrreryObject object) {
    int err = 1;
    enabled = Orrery::getObjectBool(object, L"enabled", false, &err);
    if (err != PYX_ORRERY_OK) {
        TARN_LOG(TarnPyxLogging::LevelDebug)
            << "Error reading enabled: " << PyxOrrery_ErrorAsString(err);
    }
    const tarn::UniqueOrreryObject array(PyxOrrery_ObjectGetObject(object, L"rules", &err));
    if (!array || PyxOrrery_ObjectIsArray(array.get()) != 1) {
        return;
    }
    const int size = PyxOrrery_ArrayGetSize(array.get());
    for (int i = 0; i < size; ++i) {
        err = 1;
        const tarn::UniqueOrreryObject item(PyxOrrery_ArrayGetItem(array.get(), i, &err));
        if (!item || err != PYX_ORRERY_OK) {
            TARN_LOG(TarnPyxLogging::LevelWarning)
                << "Error getting item " << i << ": " << PyxOrrery_ErrorAsString(err);
            continue;
        }
        AutomaticProfileSelectionRule rule;
        if (rule.initializeFromOrreryObject(item.get())) {
            rules.insert_or_assign(rule.priority, rule);
        }
    }
}
