#!/bin/sh
# A pinentry peer with a script instead of a user: logs every line it receives to $PEER_LOG
# (after a START line per run) and answers as $PEER_MODE says:
#   pin     GETPIN answers "D $PEER_PIN_DATA" (already escaped) and OK   (the default)
#   cancel  GETPIN answers the cancel error pinentry gives
#   die     the program ends when asked for the PIN
#   mute    the program ends before its greeting
#   refuse  MESSAGE answers an error, as a pinentry without a terminal or display does
# CONFIRM answers as the button $PEER_CONFIRM names: OK ("yes", the default), the "not OK"
# button ("notok"), Cancel ("no"); or the error of a pinentry that cannot show anything when
# it is "nodevice".
# With $PEER_HOLD set, GETPIN first creates "$PEER_HOLD.waiting" and waits (at most 10 s) for
# "$PEER_HOLD.release" to appear.
log=${PEER_LOG:-/dev/null}
echo START >>"$log"
[ "${PEER_MODE:-pin}" = mute ] && exit 0
echo "OK Pleased to meet you"
while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    case "$line" in
    GETPIN*)
        if [ -n "${PEER_HOLD:-}" ]; then
            : >"$PEER_HOLD.waiting"
            i=0
            while [ ! -e "$PEER_HOLD.release" ] && [ $i -lt 1000 ]; do
                sleep 0.01
                i=$((i + 1))
            done
        fi
        case "${PEER_MODE:-pin}" in
        cancel) echo "ERR 83886179 Operation cancelled <Pinentry>" ;;
        die) exit 0 ;;
        *)
            [ -n "${PEER_PIN_DATA:-}" ] && echo "D $PEER_PIN_DATA"
            echo "OK"
            ;;
        esac
        ;;
    MESSAGE*)
        if [ "${PEER_MODE:-pin}" = refuse ]; then
            echo "ERR 83886360 No such device <Pinentry>"
        else
            echo "OK"
        fi
        ;;
    CONFIRM*)
        case "${PEER_CONFIRM:-yes}" in
        no) echo "ERR 83886179 Operation cancelled <Pinentry>" ;;
        notok) echo "ERR 83886194 Not confirmed <Pinentry>" ;;
        nodevice) echo "ERR 83886360 No such device <Pinentry>" ;;
        *) echo "OK" ;;
        esac
        ;;
    BYE*)
        echo "OK closing connection"
        exit 0
        ;;
    *) echo "OK" ;;
    esac
done
