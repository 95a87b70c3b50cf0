#include "vurude_xml_prologs.h"

const char connect_dtd[] =
  "<?xml version=\"1.0\"?><!DOCTYPE connect [<!ELEMENT connect EMPTY>"
  "<!ATTLIST connect abapfm CDATA #IMPLIED>\n"
  "<!ATTLIST connect abapprog CDATA #IMPLIED>\n"
  "<!ATTLIST connect ashost CDATA #IMPLIED>\n"
  "<!ATTLIST connect client CDATA #IMPLIED>\n"
  "<!ATTLIST connect cstring CDATA #IMPLIED>\n"
  "<!ATTLIST connect dest CDATA #IMPLIED>\n"
  "<!ATTLIST connect group CDATA #IMPLIED>\n"
  "<!ATTLIST connect gwhost CDATA #IMPLIED>\n"
  "<!ATTLIST connect gwserv CDATA #IMPLIED>\n"
  "<!ATTLIST connect lang CDATA #IMPLIED>\n"
  "<!ATTLIST connect mshost CDATA #IMPLIED>\n"
  "<!ATTLIST connect passwd CDATA #IMPLIED>\n"
  "<!ATTLIST connect r3name CDATA #IMPLIED>\n"
  "<!ATTLIST connect saplogon_id CDATA #IMPLIED>\n"
  "<!ATTLIST connect vokdebug CDATA #IMPLIED>\n"
  "<!ATTLIST connect sysnr CDATA #IMPLIED>\n"
  "<!ATTLIST connect trace (0|1) '0'>\n"
  "<!ATTLIST connect user CDATA #IMPLIED>\n"
  "<!ATTLIST connect xpasswd CDATA #IMPLIED>\n"
  "]>\n";

const char function_dtd[] =
  "<?xml version=\"1.0\"?><!DOCTYPE function [<!ELEMENT function (parameter|table|callback|exception)*>\n"
  "<!ATTLIST function chandle CDATA #IMPLIED>\n"
  "<!ATTLIST function data (n|N|y|Y) #IMPLIED>\n"
  "<!ATTLIST function dhandle CDATA #IMPLIED>\n"
  "<!ATTLIST function metadata (n|N|y|Y) #IMPLIED>\n"
  "<!ATTLIST function name CDATA #IMPLIED>\n"
  "<!ATTLIST function persist (c|C|n|N|y|Y) 'N'>\n"
  "<!ELEMENT parameter (i?)>\n"
  "<!ATTLIST parameter intlen CDATA #REQUIRED>\n"
  "<!ATTLIST parameter name CDATA #REQUIRED>\n"
  "<!ATTLIST parameter type (c|C|b|B) 'B'>\n"
  "<!ATTLIST parameter paramclass (I|E) #REQUIRED>\n"
  "<!ELEMENT table (field*, i*)>\n"
  "<!ATTLIST table inputonly (n|N|y|Y) 'N'>\n"
  "<!ATTLIST table intlen CDATA #REQUIRED>\n"
  "<!ATTLIST table name CDATA #REQUIRED>\n"
  "<!ATTLIST table structure CDATA #IMPLIED>\n"
  "<!ELEMENT callback EMPTY>\n"
  "<!ATTLIST callback name CDATA #REQUIRED>\n"
  "<!ELEMENT exception EMPTY>\n"
  "<!ATTLIST exception name CDATA #REQUIRED>\n"
  "<!ELEMENT field EMPTY>\n"
  "<!ATTLIST field name CDATA #REQUIRED>\n"
  "<!ATTLIST field type (C|D|P|T|X|N|F|I|s|b) #REQUIRED>\n"
  "<!ATTLIST field len CDATA #REQUIRED>\n"
  "<!ATTLIST field len2 CDATA #IMPLIED>\n"
  "<!ATTLIST field len4 CDATA #IMPLIED>\n"
  "<!ATTLIST field dec CDATA '0'>\n"
  "<!ATTLIST field offset CDATA #REQUIRED>\n"
  "<!ATTLIST field offset2 CDATA #IMPLIED>\n"
  "<!ATTLIST field offset4 CDATA #IMPLIED>\n"
  "<!ELEMENT i (d+)>\n"
  "<!ELEMENT d (#PCDATA)>\n"
  "]>\n";

// The declarations select documents share after their root's.
#define VURUDE_XML_SELECT_CLAUSES                     \
  "<!ELEMENT groupby (#PCDATA)>\n"                    \
  "<!ELEMENT having (#PCDATA)>\n"                     \
  "<!ELEMENT orderby (#PCDATA)>\n"                    \
  "<!ELEMENT where (#PCDATA)>\n"

#define VURUDE_XML_SELECT_ROOT_ATTRIBUTES(root)       \
  "<!ATTLIST " root " batch (n|N|y|Y) 'N'>\n"         \
  "<!ATTLIST " root " chandle CDATA #IMPLIED>\n"      \
  "<!ATTLIST " root " data (n|N|y|Y) #IMPLIED>\n"     \
  "<!ATTLIST " root " dhandle CDATA #IMPLIED>\n"      \
  "<!ATTLIST " root " distinct (n|N|y|Y) #IMPLIED>\n" \
  "<!ATTLIST " root " metadata (n|N|y|Y) #IMPLIED>\n"

#define VURUDE_XML_TABLE_ATTRIBUTES                   \
  "<!ATTLIST table alias CDATA #IMPLIED>\n"           \
  "<!ATTLIST table name CDATA #REQUIRED>\n"           \
  "<!ATTLIST table join (inner|left) #IMPLIED>\n"

const char sselect_dtd[] =
  "<?xml version=\"1.0\"?><!DOCTYPE sselect [<!ELEMENT sselect ((field|groupby|having|orderby|where)*, table, "
  "(field|groupby|having|orderby|where)*)>\n"
  VURUDE_XML_SELECT_ROOT_ATTRIBUTES ("sselect")
  "<!ELEMENT field EMPTY>\n"
  "<!ATTLIST field abaptype CDATA #IMPLIED>\n"
  "<!ATTLIST field aggregate (avg|count|max|min|sum|AVG|COUNT|MAX|MIN|SUM) #IMPLIED>\n"
  "<!ATTLIST field alias CDATA #IMPLIED>\n"
  "<!ATTLIST field distinct (n|N|y|Y) #IMPLIED>\n"
  "<!ATTLIST field name CDATA #REQUIRED>\n"
  "<!ATTLIST field table CDATA #IMPLIED>\n"
  VURUDE_XML_SELECT_CLAUSES
  "<!ELEMENT table EMPTY>\n"
  VURUDE_XML_TABLE_ATTRIBUTES
  "<!ELEMENT on (#PCDATA)>\n"
  "]>\n";

const char nselect_dtd[] =
  "<?xml version=\"1.0\"?><!DOCTYPE nselect [<!ELEMENT nselect (sselect+)>\n"
  VURUDE_XML_SELECT_ROOT_ATTRIBUTES ("nselect")
  "<!ELEMENT sselect ((field|where)*, table, (field|where)*)>\n"
  "<!ATTLIST sselect chandle CDATA #IMPLIED>\n"
  "<!ATTLIST sselect data (n|N|y|Y) #IMPLIED>\n"
  "<!ATTLIST sselect dhandle CDATA #IMPLIED>\n"
  "<!ATTLIST sselect distinct (n|N|y|Y) #IMPLIED>\n"
  "<!ATTLIST sselect metadata (n|N|y|Y) #IMPLIED>\n"
  "<!ELEMENT field EMPTY>\n"
  "<!ATTLIST field abaptype CDATA #IMPLIED>\n"
  "<!ATTLIST field aggregate (avg|count|max|min|sum|AVG|COUNT|MAX|MIN|SUM) #IMPLIED>\n"
  "<!ATTLIST field alias CDATA #IMPLIED>\n"
  "<!ATTLIST field distinct (n|N|y|Y) #IMPLIED>\n"
  "<!ATTLIST field name CDATA #REQUIRED>\n"
  "<!ATTLIST field suppress (n|N|y|Y) 'N'>\n"
  "<!ATTLIST field table CDATA #IMPLIED>\n"
  VURUDE_XML_SELECT_CLAUSES
  "<!ELEMENT table (on*)>\n"
  VURUDE_XML_TABLE_ATTRIBUTES
  "<!ELEMENT on (#PCDATA)>\n"
  "]>\n";

const char gselect_dtd[] =
  "<?xml version=\"1.0\"?><!DOCTYPE gselect [<!ELEMENT gselect (field|groupby|having|orderby|table|where)+>\n"
  VURUDE_XML_SELECT_ROOT_ATTRIBUTES ("gselect")
  "<!ELEMENT field EMPTY>\n"
  "<!ATTLIST field abaptype CDATA #IMPLIED>\n"
  "<!ATTLIST field aggregate (avg|count|max|min|sum|AVG|COUNT|MAX|MIN|SUM) #IMPLIED>\n"
  "<!ATTLIST field alias CDATA #IMPLIED>\n"
  "<!ATTLIST field distinct (n|N|y|Y) #IMPLIED>\n"
  "<!ATTLIST field name CDATA #REQUIRED>\n"
  "<!ATTLIST field table CDATA #IMPLIED>\n"
  VURUDE_XML_SELECT_CLAUSES
  "<!ELEMENT table (on*)>\n"
  VURUDE_XML_TABLE_ATTRIBUTES
  "<!ELEMENT on (#PCDATA)>\n"
  "]>\n";

const char dummy_dtd[] = "<?xml version=\"1.0\"?><!DOCTYPE dummy [<!ELEMENT dummy EMPTY>]> <dummy/>\n";

const char *prolog_for_root (std::u16string_view root)
{
  if (root == u"connect")
    return connect_dtd;
  if (root == u"gselect")
    return gselect_dtd;
  if (root == u"nselect")
    return nselect_dtd;
  if (root == u"sselect")
    return sselect_dtd;
  if (root == u"function")
    return function_dtd;
  return dummy_dtd;
}
