// The functions the partner calls back while a request's dialog function
// runs: request parameters, system information, metadata, generated program
// lines and the chunks of rows.
#include "vurude_base_request.h"

#include "nt_vurude_service_options.h"
#include "utf16_text.h"
#include "vurude_base_handler.h"
#include "vurude_data_cbf.h"
#include "vurude_function.h"
#include "vurude_genprog_cbf.h"
#include "vurude_grp_gselect_cbf.h"
#include "vurude_grp_nselect_cbf.h"
#include "vurude_grp_sselect_cbf.h"
#include "vurude_grp_connect_cbf.h"
#include "vurude_grp_function_cbf.h"
#include "vurude_itab.h"
#include "vurude_mdata_cbf.h"
#include "vurude_ssi_cbf.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_sys_socket.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace
{
// Who serves each function the partner may call, in the order of lookup.
struct Callback_Entry
{
  std::u16string_view name;
  int (Vurude_Base_Request::*serve) (RFC_HANDLE);
};

// Z_VOK_GET_REQUEST_PARAMETERS is answered by the request's grp_handler and
// so is not in this table.
const Callback_Entry callback_table[] = {
  {u"Z_VOK_DATA_CHUNK", &Vurude_Base_Request::handle_data_chunk},
  {u"Z_VOK_GET_EXTRACTION_PARAMS", &Vurude_Base_Request::handle_grp_bcompat},
  {u"Z_VOK_SEND_SYSTEM_INFO", &Vurude_Base_Request::handle_system_info},
  {u"Z_VOK_MDATA", &Vurude_Base_Request::handle_mdata},
  {u"Z_VOK_GENPROG", &Vurude_Base_Request::handle_genprog},
  {u"Z_VOK_JOB_NUMBER", &Vurude_Base_Request::handle_batch_callrfc1},
  {u"Z_VOK_GET_TOKEN", &Vurude_Base_Request::handle_batch_callrfc2},
  {u"Z_VOK_GET_PARAMETER_TABLE", &Vurude_Base_Request::handle_parameter_table},
  {u"Z_VOK_BATCH_CALLBACK1", &Vurude_Base_Request::handle_batch_callback1},
  {u"Z_VOK_BATCH_CALLBACK2", &Vurude_Base_Request::handle_batch_callback2},
};

constexpr std::size_t function_name_units = 200;
constexpr std::size_t system_info_units = 512;
}

void Vurude_Base_Request::send_lines (const Vurude_Itab *table, Vurude_Base_Handler *target)
{
  if (!table || !table->handle)
    return;
  const std::size_t units = table->line_length / 2;
  for (unsigned i = 1; i <= table->count (); ++i)
    send_line (static_cast<const char16_t *> (table->line (i)), units, target);
}

int Vurude_Base_Request::receive_loop (RFC_HANDLE handle)
{
  return serve_calls (*main_function, handle);
}

int Vurude_Base_Request::serve_calls (Vurude_Function &call, RFC_HANDLE handle)
{
  int rc = call.receive (handle);
  while (rc == RFC_CALL)
    {
      rc = dispatch_callback (handle);
      if (rc != 0)
        break;
      rc = call.receive (handle);
    }
  if (rc != 0)
    check_rfc_result (&call, rc);
  return rc;
}

int Vurude_Base_Request::dispatch_callback (RFC_HANDLE handle)
{
  SAP_UC name[function_name_units + 1] = {};
  const RFC_RC named = RfcGetLongNameEx (handle, name, function_name_units + 1);
  if (named != RFC_OK)
    {
      send_error_line ("RfcGetName failed");
      return named;
    }
  const std::u16string_view called (name, utf16_length (name, function_name_units));
  ACE_DEBUG ((LM_DEBUG, "%D(%P|%t) Callback %s\n", utf8_from_utf16 (called).c_str ()));
  if (called == u"Z_VOK_GET_REQUEST_PARAMETERS")
    return (this->*grp_handler) (handle);
  for (const Callback_Entry &entry : callback_table)
    if (called == entry.name)
      return (this->*entry.serve) (handle);
  RfcAbort (handle, u"Function not supported by VOK RFC Server");
  return 13;
}

// Request parameters

int Vurude_Base_Request::grp_default (RFC_HANDLE)
{
  return 0;
}

int Vurude_Base_Request::handle_grpconn (RFC_HANDLE handle)
{
  if (!grp_connect_cbf)
    grp_connect_cbf = std::make_unique<Vurude_Grp_Connect_Cbf> (u"GRPCONN", read_report_name ());
  int rc = grp_connect_cbf->getdata (handle);
  if (rc != 0)
    {
      send_error_line ("RfcGetData failed");
      return rc;
    }
  rc = grp_connect_cbf->senddata (handle);
  if (rc != 0)
    send_error_line ("RfcSendData failed");
  return rc;
}

namespace
{
int answer_select_parameters (Vurude_Base_Request &request, Vurude_Grp_Base_Select_Cbf &answer,
                              RFC_HANDLE handle)
{
  int rc = answer.grp_getdata (handle);
  if (rc != 0)
    {
      request.send_error_line ("RfcGetData failed");
      return rc;
    }
  rc = answer.grp_senddata (handle);
  if (rc != 0)
    request.send_error_line ("RfcSendData failed");
  return rc;
}
}

int Vurude_Base_Request::handle_grpssel (RFC_HANDLE handle)
{
  if (!grp_sselect_cbf)
    grp_sselect_cbf = std::make_unique<Vurude_Grp_Sselect_Cbf> (u"GRPSSEL", this);
  return answer_select_parameters (*this, *grp_sselect_cbf, handle);
}

int Vurude_Base_Request::handle_grpnsel (RFC_HANDLE handle)
{
  if (!grp_nselect_cbf)
    grp_nselect_cbf = std::make_unique<Vurude_Grp_Nselect_Cbf> (u"GRPNSEL", this);
  return answer_select_parameters (*this, *grp_nselect_cbf, handle);
}

int Vurude_Base_Request::handle_grpgsel (RFC_HANDLE handle)
{
  if (!grp_gselect_cbf)
    grp_gselect_cbf = std::make_unique<Vurude_Grp_Gselect_Cbf> (u"GRPGSEL", this);
  return answer_select_parameters (*this, *grp_gselect_cbf, handle);
}

int Vurude_Base_Request::handle_grpfunc (RFC_HANDLE handle)
{
  if (!grp_function_cbf)
    grp_function_cbf = std::make_unique<Vurude_Grp_Function_Cbf> (u"GRPFUNC", this);
  int rc = grp_function_cbf->getdata (handle);
  if (rc != 0)
    {
      send_error_line ("RfcGetData failed");
      return rc;
    }
  rc = grp_function_cbf->senddata (handle);
  if (rc != 0)
    send_error_line ("RfcSendData failed");
  return rc;
}

// Texts for the client

int Vurude_Base_Request::handle_system_info (RFC_HANDLE handle)
{
  if (!ssi_cbf)
    ssi_cbf = std::make_unique<Vurude_Ssi_Cbf> (u"SSI");
  int rc = ssi_cbf->getdata (handle);
  if (rc != 0)
    {
      send_error_line ("RfcGetData failed");
      return rc;
    }
  RFC_ATTRIBUTES attributes {};
  RfcGetAttributes (handle, &attributes);
  const char16_t *record = reinterpret_cast<const char16_t *> (&attributes);
  const std::size_t record_units = sizeof attributes / sizeof (char16_t);
  const std::u16string_view own_codepage (record + 302, utf16_length (record + 302, record_units - 302));
  const std::u16string_view partner_codepage (record + 345, utf16_length (record + 345, record_units - 345));

  std::u16string line (ssi_cbf->sysinfo ());
  line += own_codepage;
  line += u",LIT,IE3,W,";
  line += OPTIONS::instance ()->name_prefix ();
  line += u",2,";
  line += partner_codepage;
  line += u", ";
  line.resize (std::min (line.size (), system_info_units - 1));
  send_line (line.data (), line.size ());

  if (ssi_cbf->senddata (handle) != 0)
    send_error_line ("RfcSendData failed");
  return 0;
}

int Vurude_Base_Request::handle_mdata (RFC_HANDLE handle)
{
  if (!mdata_cbf)
    mdata_cbf = std::make_unique<Vurude_Mdata_Cbf> (u"MDATA");
  const int rc = mdata_cbf->getdata (handle);
  if (rc != 0)
    {
      send_error_line ("RfcGetData failed");
      return rc;
    }
  return send_mdata (handle);
}

int Vurude_Base_Request::send_mdata (RFC_HANDLE handle)
{
  Vurude_Itab *table = mdata_cbf->mtab ();
  send_lines (table);
  if (table)
    table->free_lines ();
  const int rc = mdata_cbf->senddata (handle);
  if (rc != 0)
    send_error_line ("RfcSendData failed");
  return rc;
}

int Vurude_Base_Request::handle_genprog (RFC_HANDLE handle)
{
  if (!genprog_cbf)
    genprog_cbf = std::make_unique<Vurude_Genprog_Cbf> (u"GENPROG");
  int rc = genprog_cbf->getdata (handle);
  if (rc != 0)
    {
      send_error_line ("RfcGetData failed");
      return rc;
    }
  send_lines (genprog_cbf->ltab ());
  rc = genprog_cbf->senddata (handle);
  if (rc != 0)
    send_error_line ("RfcSendData failed");
  return rc;
}

// Rows

int Vurude_Base_Request::handle_data_chunk (RFC_HANDLE handle)
{
  if (!data_cbf)
    data_cbf = std::make_unique<Vurude_Data_Cbf> (u"DATA");
  const int rc = data_cbf->getdata (handle);
  if (rc != 0)
    {
      send_error_line ("RfcGetData failed");
      return rc;
    }
  // In a batch extraction this request serves the job on the data
  // connection; the rows belong to the request that owns that connection.
  Vurude_Request_Ref delivering;
  if (data_handler->owner && data_handler->owner != handler)
    delivering = data_handler->owner->current_request ();
  if (!delivering)
    delivering = Vurude_Request_Ref (this);
  return delivering->deliver_chunk (handle, data_cbf.get ());
}

int Vurude_Base_Request::deliver_chunk (RFC_HANDLE handle, Vurude_Data_Cbf *chunk)
{
  if (data_state == u'N')
    {
      data_state = u' ';
      handler->send_bytes ("OK\n", 3);
    }
  data_state = chunk->end_of_data ();

  const char16_t first = chunk->emsg ()[0];
  if (first != 0 && first != u' ')
    {
      send_error_line (std::u16string_view (chunk->emsg ()));
      chunk->senddata (handle);
      ACE_OS::shutdown (handler->peer ().get_handle (), ACE_SHUTDOWN_WRITE);
      return 13;
    }

  Vurude_Itab *rows = chunk->dtab ();
  if (rows && rows->handle && data_handler->send_table (rows->handle, 0) < 0)
    {
      // The client's data connection is gone: the partner stops sending.
      data_state = u'X';
      killed = 1;
      return chunk->raise (handle, u"KILLED_BY_VOK");
    }
  if (data_state == u'X')
    data_handler->send_table (ITAB_NULL, -data_handler->table_width);

  const int rc = chunk->senddata (handle);
  if (rc != 0)
    send_error_line ("RfcSendData failed");
  if (data_state == u'X')
    ACE_OS::shutdown (data_handler->peer ().get_handle (), ACE_SHUTDOWN_WRITE);
  return rc;
}

int Vurude_Base_Request::handle_parameter_table (RFC_HANDLE)
{
  return 0;
}

int Vurude_Base_Request::handle_batch_callback2 (RFC_HANDLE)
{
  return 0;
}
