# Doxygen input filter: the headers are commented with plain //, written for people reading
# them. This makes those comments the documentation without changing the headers: the opening
# block describes the file, a comment line before a declaration documents it, and a comment
# after a declaration on the same line documents that member.
1,/^[^/]/ {
    1 s#^// #/// @file\n/// #
    1! s#^//#///#
}
1,/^[^/]/ !{
    s#^\([[:space:]]*\)// #\1/// #
    s#^\([[:space:]]*\)//$#\1///#
    s#\([;,]\)\([[:space:]]*\)// #\1\2///< #
}
