# templates.cmake - writes the Group Policy templates vireo.admx and
# en-US/vireo.adml from the kit's own tables, so that they name exactly the
# controls the code reads:
#   TABLE      camera/policy_controls.h: one VIREO_POLICY_CONTROL line a control
#   CATALOGUE  include/vireoctl.h: the shutter list's labels, the frame rates
#   OUT        the folder written
#   VERSION    the kit's version
#   KEY        the policy key under HKLM
# cmake -DTABLE=... -DCATALOGUE=... -DOUT=... -DVERSION=... -DKEY=... -P templates.cmake
cmake_minimum_required(VERSION 3.25)

function(xml_escape text out)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  string(REPLACE "\"" "&quot;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The controls: NAMES, and KIND_<name>, MIN_<name>, MAX_<name>, LABEL_<name>.
file(STRINGS ${TABLE} lines REGEX "^VIREO_POLICY_CONTROL\\(")
set(NAMES)
foreach(line ${lines})
  if(NOT line MATCHES "^VIREO_POLICY_CONTROL\\(([A-Z0-9_]+), (SLIDER|SWITCH|SHUTTER|RATE), (-?[0-9]+), (-?[0-9]+), \"([^\"]*)\"\\)$")
    message(FATAL_ERROR "templates: a line of ${TABLE} not of the form: ${line}")
  endif()
  list(APPEND NAMES ${CMAKE_MATCH_1})
  set(KIND_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  set(MIN_${CMAKE_MATCH_1} ${CMAKE_MATCH_3})
  set(MAX_${CMAKE_MATCH_1} ${CMAKE_MATCH_4})
  xml_escape("${CMAKE_MATCH_5}" label)
  set(LABEL_${CMAKE_MATCH_1} "${label}")
endforeach()
list(LENGTH NAMES count)
if(count EQUAL 0)
  message(FATAL_ERROR "templates: no control in ${TABLE}")
endif()

# The lists' labels, as the page shows them.
file(READ ${CATALOGUE} catalogue)
if(NOT catalogue MATCHES "ShutterLabels\\[SHUTTER_COUNT\\] = {([^}]*)}")
  message(FATAL_ERROR "templates: no ShutterLabels in ${CATALOGUE}")
endif()
string(REGEX MATCHALL "\"[^\"]*\"" SHUTTER "${CMAKE_MATCH_1}")
if(NOT catalogue MATCHES "FrameRatesPerSecond\\[FRAME_RATE_COUNT\\] = {([^}]*)}")
  message(FATAL_ERROR "templates: no FrameRatesPerSecond in ${CATALOGUE}")
endif()
string(REGEX MATCHALL "[0-9]+" RATES "${CMAKE_MATCH_1}")

set(strings "")
set(presentations "")
set(items_SWITCH "")
set(items_SHUTTER "")
set(items_RATE "")

# item(kind value label): one entry of a kind's list, with its string.
macro(item kind value id label)
  string(APPEND items_${kind}
         "            <item displayName=\"$(string.${id})\"><value><decimal value=\"${value}\" /></value></item>\n")
  string(APPEND strings "      <string id=\"${id}\">${label}</string>\n")
endmacro()
item(SWITCH 0 Off "Off")
item(SWITCH 1 On "On")
set(i 0)
foreach(label ${SHUTTER})
  string(REPLACE "\"" "" label "${label}")
  string(STRIP "${label}" label)
  xml_escape("${label}" label)
  item(SHUTTER ${i} Shutter_${i} "${label}")
  math(EXPR i "${i} + 1")
endforeach()
set(i 0)
foreach(rate ${RATES})
  item(RATE ${i} Rate_${i} "${rate} frames per second")
  math(EXPR i "${i} + 1")
endforeach()

# policy(name level category words): one policy of one control.
set(policies "")
macro(policy name level category words)
  set(id ${category}_${name})
  if(KIND_${name} STREQUAL "SLIDER")
    set(element "        <decimal id=\"${name}\" valueName=\"${name}\" minValue=\"${MIN_${name}}\" maxValue=\"${MAX_${name}}\" />\n")
    set(shown "        <decimalTextBox refId=\"${name}\" defaultValue=\"${MIN_${name}}\" spinStep=\"1\">${LABEL_${name}} (${MIN_${name}} to ${MAX_${name}}):</decimalTextBox>\n")
  else()
    set(element "        <enum id=\"${name}\" valueName=\"${name}\" required=\"true\">\n${items_${KIND_${name}}}        </enum>\n")
    set(shown "        <dropdownList refId=\"${name}\" noSort=\"true\" defaultItem=\"0\">${LABEL_${name}}:</dropdownList>\n")
  endif()
  string(APPEND policies
         "    <policy name=\"${id}\" class=\"Machine\" displayName=\"$(string.${id})\" explainText=\"$(string.${id}_Help)\" presentation=\"$(presentation.${id})\" key=\"${KEY}\\${level}\">\n"
         "      <parentCategory ref=\"${category}\" />\n"
         "      <supportedOn ref=\"SUPPORTED_Vireo_1_11\" />\n"
         "      <elements>\n${element}      </elements>\n"
         "    </policy>\n")
  string(APPEND strings
         "      <string id=\"${id}\">${LABEL_${name}}: ${words} value</string>\n"
         "      <string id=\"${id}_Help\">")
  if("${category}" STREQUAL "Locked")
    string(APPEND strings
           "Locks the camera's ${LABEL_${name}} at the value set here. The Camera Setting page shows it at that value and disabled, with a line saying that the organization manages some settings; the camera's extension refuses every program's change to another value, vireoctl set refuses it, and the Camera Settings Keeper writes the value back whenever the camera is elsewhere.\n\n")
  else()
    string(APPEND strings
           "The ${LABEL_${name}} a camera starts with when its user has never set it (the Camera Settings Keeper holds no settings of it). The user may change it, and the keeper keeps the user's choice from then on.\n\n")
  endif()
  string(APPEND strings
         "A value outside the camera's own range is skipped and logged. Not configured or disabled: nothing is set.\n\nRegistry: HKEY_LOCAL_MACHINE\\${KEY}\\${level}, value ${name} (REG_DWORD). The same value under ${KEY}\\Models\\vid_XXXX&amp;pid_XXXX\\${level} applies to one model of camera and wins over this one.</string>\n")
  string(APPEND presentations "      <presentation id=\"${id}\">\n${shown}      </presentation>\n")
endmacro()
foreach(name ${NAMES})
  policy(${name} Mandatory Locked "locked")
endforeach()
foreach(name ${NAMES})
  policy(${name} Recommended Recommended "recommended")
endforeach()

set(schema "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" revision=\"1.0\" schemaVersion=\"1.0\" xmlns=\"http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions\"")
file(WRITE ${OUT}/vireo.admx
     "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
     "<!-- Vireo camera support kit ${VERSION}: settings an organization sets. -->\n"
     "<policyDefinitions ${schema}>\n"
     "  <policyNamespaces>\n"
     "    <target prefix=\"vireo\" namespace=\"Vireo.Policies.Camera\" />\n"
     "  </policyNamespaces>\n"
     "  <resources minRequiredRevision=\"1.0\" />\n"
     "  <supportedOn>\n    <definitions>\n"
     "      <definition name=\"SUPPORTED_Vireo_1_11\" displayName=\"$(string.SUPPORTED_Vireo_1_11)\" />\n"
     "    </definitions>\n  </supportedOn>\n"
     "  <categories>\n"
     "    <category name=\"VireoCamera\" displayName=\"$(string.VireoCamera)\" />\n"
     "    <category name=\"Locked\" displayName=\"$(string.Locked)\"><parentCategory ref=\"VireoCamera\" /></category>\n"
     "    <category name=\"Recommended\" displayName=\"$(string.Recommended)\"><parentCategory ref=\"VireoCamera\" /></category>\n"
     "  </categories>\n"
     "  <policies>\n${policies}  </policies>\n"
     "</policyDefinitions>\n")
file(WRITE ${OUT}/en-US/vireo.adml
     "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
     "<policyDefinitionResources ${schema}>\n"
     "  <displayName>Vireo camera</displayName>\n"
     "  <description>Settings an organization sets on its Vireo cameras (kit ${VERSION}).</description>\n"
     "  <resources>\n    <stringTable>\n"
     "      <string id=\"VireoCamera\">Vireo camera</string>\n"
     "      <string id=\"Locked\">Locked settings</string>\n"
     "      <string id=\"Recommended\">Recommended settings</string>\n"
     "      <string id=\"SUPPORTED_Vireo_1_11\">Vireo camera support kit 1.11 and later</string>\n"
     "${strings}    </stringTable>\n"
     "    <presentationTable>\n${presentations}    </presentationTable>\n"
     "  </resources>\n"
     "</policyDefinitionResources>\n")
