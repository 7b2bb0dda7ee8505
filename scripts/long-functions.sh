#!/bin/sh
# Lists the functions and lambdas longer than a limit, longest first:
#   scripts/long-functions.sh [-n LINES] [FILE|DIR ...]
# A function runs from the line of its opening brace to that of its closing
# one, both counted. Rough by design (no real C++ parser): strings, character
# literals and comments are blanked first, and a brace opens a function when
# the text before it ends in a parameter list, optionally followed by
# const/override/noexcept/mutable, a trailing return type or an initialiser
# list, and does not start with a control keyword.
limit=80
if [ "$1" = "-n" ]; then
    limit=$2
    shift 2
fi
[ $# -eq 0 ] && set -- .
find "$@" \( -name build -o -name 'build-*' -o -name .git \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print |
    sort |
    while read -r file; do
        awk -v limit="$limit" -v file="$file" '
        BEGIN { depth = 0; incomment = 0; header = "" }
        {
            line = $0
            out = ""
            i = 1
            n = length(line)
            while (i <= n) {
                c = substr(line, i, 1)
                two = substr(line, i, 2)
                if (incomment) {
                    if (two == "*/") { incomment = 0; i += 2; continue }
                    i++; continue
                }
                if (two == "/*") { incomment = 1; i += 2; continue }
                if (two == "//") break
                if (c == "\"" || c == "\x27") {
                    q = c; i++
                    while (i <= n) {
                        d = substr(line, i, 1)
                        if (d == "\\") { i += 2; continue }
                        if (d == q) break
                        i++
                    }
                    out = out q q; i++; continue
                }
                out = out c; i++
            }
            # Raw strings and preprocessor lines are rare here; skip the latter.
            if (out ~ /^[ \t]*#/) next
            m = length(out)
            for (j = 1; j <= m; j++) {
                c = substr(out, j, 1)
                if (c == "{") {
                    h = header " " substr(out, 1, j - 1)
                    gsub(/[ \t]+/, " ", h)
                    sub(/^ +/, "", h)
                    isfn = 0
                    t = h
                    sub(/ +$/, "", t)
                    # Strip what may follow the parameter list.
                    while (1) {
                        u = t
                        sub(/ *(const|override|noexcept|mutable|final)$/, "", t)
                        sub(/ *-> *[A-Za-z_:<>, *&]+$/, "", t)
                        if (t == u) break
                    }
                    if (t ~ /\)$/ && h !~ /^(if|for|while|switch|catch|else if|do)[ (]/ && h !~ /[;]$/) isfn = 1
                    if (h ~ /\) *: /) isfn = 1 # constructor with initialisers
                    if (h ~ /(^| )(if|for|while|switch|catch) *\(/ && h !~ /\[[^]]*\] *\(/) isfn = 0
                    depth++
                    start[depth] = NR
                    fn[depth] = isfn
                    name[depth] = substr(h, 1, 100)
                    header = ""
                } else if (c == "}") {
                    if (depth > 0) {
                        if (fn[depth]) {
                            len = NR - start[depth] + 1
                            if (len > limit)
                                printf "%d %s:%d %s\n", len, file, start[depth], name[depth]
                        }
                        depth--
                    }
                    header = ""
                } else if (c == ";") {
                    header = ""
                }
            }
            # What follows the last brace or semicolon heads the next block.
            if (match(out, /[{};][^{};]*$/)) header = substr(out, RSTART + 1)
            else header = header " " out
            if (length(header) > 400) header = substr(header, length(header) - 400)
        }' "$file"
    done | sort -rn
