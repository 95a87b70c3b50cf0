#include "vurude_compat_handler.h"

int Vurude_Compat_Handler::send_handle ()
{
  const std::u16string greeting = u"HANDLE " + handle_name () + u"\n";
  return send_text (greeting.data (), greeting.size ()) < 0 ? -1 : 0;
}
