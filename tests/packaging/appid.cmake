# The application id made from the maker's domain, one row per rule:
#   cmake -DSOURCE_DIR=<source-dir> -P appid.cmake
cmake_minimum_required(VERSION 3.21) # the project's policies, under which empty parts count
include(${SOURCE_DIR}/packaging/appid.cmake)

function(expect domain want)
    chronolume_app_id("${domain}" got)
    if(NOT got STREQUAL want)
        message(SEND_ERROR "\"${domain}\": expected \"${want}\", got \"${got}\"")
    endif()
endfunction()

expect("chronolume.example" "example.chronolume.Chronolume")     # the default, reversed
expect("Lights.Example.COM" "com.example.lights.Chronolume")     # domains ignore case
expect("show-control.co.uk" "uk.co.show_control.Chronolume")     # no hyphen in a part
expect("24fps.tv" "tv._24fps.Chronolume")                        # no digit at a part's start
expect("example" "example.Chronolume")                           # a single label
expect("my show.com" "")                                         # no space
expect("shows..com" "")                                          # no empty part
expect("shows.com." "com.shows.Chronolume")                      # fully qualified
expect(".shows.com" "")                                          # nor at the start
expect("" "")
