// RFC_SYSTEM_INFO, RFC_PING and Z_SIM_ATTRIBUTES: what a caller asks a system about itself.
#include "sapsim/call_context.h"
#include "sapsim/module_support.h"
#include "sapsim/modules.h"
#include "sapsim/rfcsi.h"
#include "sapsim/text.h"

#include <cstring>

namespace sapsim {

namespace {

class SystemInfoModule : public FunctionModule {
public:
    const char* name() const override { return "RFC_SYSTEM_INFO"; }
    void serve(CallContext& context) const override
    {
        RFC_PARAMETER none[] = {end_of_parameters};
        RFC_TABLE no_tables[] = {end_of_tables};
        if (!get_call_data(context, name(), none, no_tables))
            return;
        char16_t rfcsi[Rfcsi::chars];
        Rfcsi::fill(context.services().config, rfcsi);
        RFC_PARAMETER exporting[] = {char_parameter(u"RFCSI_EXPORT", rfcsi, Rfcsi::chars), end_of_parameters};
        send_answer(context, name(), exporting, no_tables);
    }
};

class PingModule : public FunctionModule {
public:
    const char* name() const override { return "RFC_PING"; }
    void serve(CallContext& context) const override
    {
        RFC_PARAMETER none[] = {end_of_parameters};
        RFC_TABLE no_tables[] = {end_of_tables};
        if (get_call_data(context, name(), none, no_tables))
            send_answer(context, name(), none, no_tables);
    }
};

// What this side of the connection sees: logon data and both code pages.
class AttributesModule : public FunctionModule {
public:
    const char* name() const override { return "Z_SIM_ATTRIBUTES"; }
    void serve(CallContext& context) const override
    {
        RFC_PARAMETER none[] = {end_of_parameters};
        RFC_TABLE no_tables[] = {end_of_tables};
        if (!get_call_data(context, name(), none, no_tables))
            return;
        RFC_ATTRIBUTES attributes;
        std::memset(&attributes, 0, sizeof attributes);
        if (RfcGetAttributes(context.handle(), &attributes) != RFC_OK) {
            RfcRaise(context.handle(), u"NO_ATTRIBUTES");
            return;
        }
        char16_t client[3], user[12], language[2], own_cp[4], partner_cp[4], partner_host[100], sysid[8];
        put_chars(client, 3, from_c_text(attributes.client, 3));
        put_chars(user, 12, from_c_text(attributes.user, 12));
        put_chars(language, 2, from_c_text(attributes.language, 2));
        put_chars(own_cp, 4, from_c_text(attributes.own_codepage, 4));
        put_chars(partner_cp, 4, from_c_text(attributes.partner_codepage, 4));
        put_chars(partner_host, 100, from_c_text(attributes.partner_host, 100));
        put_chars(sysid, 8, from_c_text(attributes.sysid, 8));
        RFC_PARAMETER exporting[] = {char_parameter(u"CLIENT", client, 3),
                                     char_parameter(u"USER", user, 12),
                                     char_parameter(u"LANGUAGE", language, 2),
                                     char_parameter(u"OWN_CODEPAGE", own_cp, 4),
                                     char_parameter(u"PARTNER_CODEPAGE", partner_cp, 4),
                                     char_parameter(u"PARTNER_HOST", partner_host, 100),
                                     char_parameter(u"SYSID", sysid, 8),
                                     end_of_parameters};
        send_answer(context, name(), exporting, no_tables);
    }
};

} // namespace

std::unique_ptr<FunctionModule> make_system_info_module()
{
    return std::make_unique<SystemInfoModule>();
}

std::unique_ptr<FunctionModule> make_ping_module()
{
    return std::make_unique<PingModule>();
}

std::unique_ptr<FunctionModule> make_attributes_module()
{
    return std::make_unique<AttributesModule>();
}

} // namespace sapsim
