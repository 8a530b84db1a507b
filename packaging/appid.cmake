# chronolume_app_id(<domain> <variable>): the application id that names the desktop entry, the
# AppStream metainfo and the icon, and ties the running window to its entry. It is the maker's
# domain reversed, so a packager's real domain gives the real id: chronolume.example becomes
# example.chronolume.Chronolume. The desktop entry rules allow no hyphen in a part and no digit
# at its start: a hyphen becomes an underscore, and a part that starts with a digit gets an
# underscore before it. A domain that gives no valid id gives an empty <variable>.
function(chronolume_app_id domain variable)
    string(TOLOWER "${domain}" domain)
    string(REGEX REPLACE "\\.$" "" domain "${domain}") # the root of a fully qualified name
    string(REPLACE "-" "_" domain "${domain}")
    string(REPLACE "." ";" labels "${domain}")
    list(REVERSE labels)
    set(parts "")
    foreach(label IN LISTS labels)
        if(label MATCHES "^[0-9]")
            set(label "_${label}")
        endif()
        list(APPEND parts "${label}")
    endforeach()
    list(JOIN parts "." reversed)
    set(id "${reversed}.Chronolume")
    if(NOT id MATCHES "^([a-z_][a-z0-9_]*\\.)+Chronolume$")
        set(id "")
    endif()
    set(${variable} "${id}" PARENT_SCOPE)
endfunction()
