#include "DispIdMap.h"

#include <windows.h>
#include <oaidl.h>
#include <olectl.h>
#include <mshtmdid.h>

#include <string>

namespace FB {
namespace ActiveX {

namespace {

struct StandardId {
    const char* name;
    long id;
};

// In seeding order; the names are the DISPID_ constants' without the prefix, lower case.
const StandardId standardIds[] = {
    {"value", DISPID_VALUE}, {"toString", -1}, {"propertyput", DISPID_PROPERTYPUT},
    {"newenum", DISPID_NEWENUM}, {"evaluate", DISPID_EVALUATE}, {"constructor", DISPID_CONSTRUCTOR},
    {"destructor", DISPID_DESTRUCTOR}, {"collect", DISPID_COLLECT},

    {"autosize", DISPID_AUTOSIZE}, {"backcolor", DISPID_BACKCOLOR}, {"backstyle", DISPID_BACKSTYLE},
    {"bordercolor", DISPID_BORDERCOLOR}, {"borderstyle", DISPID_BORDERSTYLE},
    {"borderwidth", DISPID_BORDERWIDTH}, {"drawmode", DISPID_DRAWMODE}, {"drawstyle", DISPID_DRAWSTYLE},
    {"drawwidth", DISPID_DRAWWIDTH}, {"fillcolor", DISPID_FILLCOLOR}, {"fillstyle", DISPID_FILLSTYLE},
    {"font", DISPID_FONT}, {"forecolor", DISPID_FORECOLOR}, {"enabled", DISPID_ENABLED},
    {"hwnd", DISPID_HWND}, {"tabstop", DISPID_TABSTOP}, {"text", DISPID_TEXT}, {"caption", DISPID_CAPTION},
    {"bordervisible", DISPID_BORDERVISIBLE}, {"appearance", DISPID_APPEARANCE},
    {"mousepointer", DISPID_MOUSEPOINTER}, {"mouseicon", DISPID_MOUSEICON}, {"picture", DISPID_PICTURE},
    {"valid", DISPID_VALID}, {"readystate", DISPID_READYSTATE}, {"listindex", DISPID_LISTINDEX},
    {"selected", DISPID_SELECTED}, {"list", DISPID_LIST}, {"column", DISPID_COLUMN},
    {"listcount", DISPID_LISTCOUNT}, {"multiselect", DISPID_MULTISELECT}, {"maxlength", DISPID_MAXLENGTH},
    {"passwordchar", DISPID_PASSWORDCHAR}, {"scrollbars", DISPID_SCROLLBARS}, {"wordwrap", DISPID_WORDWRAP},
    {"multiline", DISPID_MULTILINE}, {"numberofrows", DISPID_NUMBEROFROWS},
    {"numberofcolumns", DISPID_NUMBEROFCOLUMNS}, {"displaystyle", DISPID_DISPLAYSTYLE},
    {"groupname", DISPID_GROUPNAME}, {"imemode", DISPID_IMEMODE}, {"accelerator", DISPID_ACCELERATOR},
    {"enterkeybehavior", DISPID_ENTERKEYBEHAVIOR}, {"tabkeybehavior", DISPID_TABKEYBEHAVIOR},
    {"seltext", DISPID_SELTEXT}, {"selstart", DISPID_SELSTART}, {"sellength", DISPID_SELLENGTH},
    {"refresh", DISPID_REFRESH}, {"doclick", DISPID_DOCLICK}, {"aboutbox", DISPID_ABOUTBOX},
    {"additem", DISPID_ADDITEM}, {"clear", DISPID_CLEAR}, {"removeitem", DISPID_REMOVEITEM},

    {"click", DISPID_CLICK}, {"dblclick", DISPID_DBLCLICK}, {"keydown", DISPID_KEYDOWN},
    {"keypress", DISPID_KEYPRESS}, {"keyup", DISPID_KEYUP}, {"mousedown", DISPID_MOUSEDOWN},
    {"mousemove", DISPID_MOUSEMOVE}, {"mouseup", DISPID_MOUSEUP}, {"errorevent", DISPID_ERROREVENT},
    {"readystatechange", DISPID_READYSTATECHANGE}, {"click_value", DISPID_CLICK_VALUE},
    {"righttoleft", DISPID_RIGHTTOLEFT}, {"toptobottom", DISPID_TOPTOBOTTOM}, {"this", DISPID_THIS},

    {"ambient_backcolor", DISPID_AMBIENT_BACKCOLOR}, {"ambient_displayname", DISPID_AMBIENT_DISPLAYNAME},
    {"ambient_font", DISPID_AMBIENT_FONT}, {"ambient_forecolor", DISPID_AMBIENT_FORECOLOR},
    {"ambient_localeid", DISPID_AMBIENT_LOCALEID}, {"ambient_messagereflect", DISPID_AMBIENT_MESSAGEREFLECT},
    {"ambient_scaleunits", DISPID_AMBIENT_SCALEUNITS}, {"ambient_textalign", DISPID_AMBIENT_TEXTALIGN},
    {"ambient_usermode", DISPID_AMBIENT_USERMODE}, {"ambient_uidead", DISPID_AMBIENT_UIDEAD},
    {"ambient_showgrabhandles", DISPID_AMBIENT_SHOWGRABHANDLES},
    {"ambient_showhatching", DISPID_AMBIENT_SHOWHATCHING},
    {"ambient_displayasdefault", DISPID_AMBIENT_DISPLAYASDEFAULT},
    {"ambient_supportsmnemonics", DISPID_AMBIENT_SUPPORTSMNEMONICS},
    {"ambient_autoclip", DISPID_AMBIENT_AUTOCLIP}, {"ambient_appearance", DISPID_AMBIENT_APPEARANCE},
    {"ambient_codepage", DISPID_AMBIENT_CODEPAGE}, {"ambient_palette", DISPID_AMBIENT_PALETTE},
    {"ambient_charsetidforvalue", DISPID_AMBIENT_CHARSET},
    {"ambient_transferpriority", DISPID_AMBIENT_TRANSFERPRIORITY},
    {"ambient_righttoleft", DISPID_AMBIENT_RIGHTTOLEFT}, {"ambient_toptobottom", DISPID_AMBIENT_TOPTOBOTTOM},

    {"name", DISPID_Name}, {"delete", DISPID_Delete}, {"object", DISPID_Object}, {"parent", DISPID_Parent},
    {"windowobject", DISPID_WINDOWOBJECT}, {"locationobject", DISPID_LOCATIONOBJECT},
    {"historyobject", DISPID_HISTORYOBJECT}, {"navigatorobject", DISPID_NAVIGATOROBJECT},
    {"securityctx", DISPID_SECURITYCTX}, {"ambient_dlcontrol", DISPID_AMBIENT_DLCONTROL},
    {"ambient_useragent", DISPID_AMBIENT_USERAGENT}, {"securitydomain", DISPID_SECURITYDOMAIN},
};

DispIdMap* makeSeeded() {
    DispIdMap* map = new DispIdMap(100);
    for (const StandardId& standard : standardIds)
        map->setIdForValue(standard.id, variant(std::string(standard.name)));
    return map;
}

} // namespace

DispIdMap& dispIdMap() {
    // Never destroyed: COM objects may still ask for names while the module unloads.
    static DispIdMap* map = makeSeeded();
    return *map;
}

size_t seededDispIdCount() { return sizeof standardIds / sizeof standardIds[0]; }

} // namespace ActiveX
} // namespace FB
