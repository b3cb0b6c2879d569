#!/bin/sh
# Runs qmllint over the module's QML files and fails on any finding.
# Usage: qmllint.sh <qmllint> <import dir> <files...>
# Debian's Qt5Compat package lacks one type description file; qmllint reports that on every
# import of the graphical effects. It says nothing about our files, so those lines are dropped.
qmllint=$1
importdir=$2
shift 2
findings=$("$qmllint" -I "$importdir" "$@" 2>&1 \
    | grep -v -e 'Qt5Compat.GraphicalEffects' -e 'Qt5Compat/GraphicalEffects/private/plugins.qmltypes' \
              -e '^---$' -e '^\^*$')
if [ -n "$findings" ]; then
    echo "$findings"
    exit 1
fi
echo "qmllint: $# files, no findings"
