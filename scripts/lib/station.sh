# Station set-ups for the demo, the end-to-end tests and the benchmarks. The
# settings file: band i goes to antenna i, and antenna i's byte is i + 1, so
# every band change shows as a different byte.
write_demo_station() {
    local file=$1 out="" v i
    le32() {
        local x=$(( $1 & 0xFFFFFFFF ))
        printf '\\%03o\\%03o\\%03o\\%03o' $(( x & 255 )) $(( (x >> 8) & 255 )) \
            $(( (x >> 16) & 255 )) $(( (x >> 24) & 255 ))
    }
    for i in 0 1 2 3 4 5 6 7 8 9; do out+=$(le32 $i); done
    for v in 1750 3500 7000 10100 14000 18068 21000 24890 28000 50000; do out+=$(le32 $v); done
    for v in 2000 4000 7200 10500 14350 18168 21450 24990 29700 54000; do out+=$(le32 $v); done
    out+=$(le32 0x278)
    for i in 1 2 3 4 5 6 7 8 9 10; do out+=$(le32 $i); done
    for v in "160m inverted L" "80m dipole" "40m dipole" "30m vertical" "20m beam" \
             "17m beam" "15m beam" "12m vertical" "10m beam" "6m yagi" \
             160m 80m 40m 30m 20m 17m 15m 12m 10m 6m; do out+="$v\\000"; done
    printf "$out" > "$file"
}

# The program, its port-driver library with the journal backend (journal
# ports.log; further config lines may follow) and the simulated host, copied
# from build directory BIN into DIR.
install_journal_station() {
    local bin=$1 dir=$2; shift 2
    cp "$bin/Kelvane.exe" "$bin/KorvPortDll.dll" "$bin/KorvSimHost.exe" "$dir/"
    printf '%s\n' backend=journal journal=ports.log "$@" > "$dir/KorvPortDll.cfg"
}
