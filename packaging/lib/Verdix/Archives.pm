# use Verdix::Archives: the tools that check-release starts, and the rules of a release's archives, read within the bounds.
# site/check-release and Verdix::Artefacts use it; each refusal names the rule it broke.
package Verdix::Archives;
use strict;
use warnings;
use Exporter 'import';
use POSIX ();
use Verdix::Bounds;

our @EXPORT = qw(from run entries refuse shown);

# refuse RULE WHY...: the check breaks RULE, for the reason WHY: it stops,
# and says so where it is caught.
sub refuse { my $rule = shift; die "the rule of $rule: @_\n" }
# shown TEXT: TEXT as it may be printed.
sub shown { my $text = shift; $text =~ s/[^\x20-\x7e]/?/g; return $text }

# from INPUT COMMAND...: a handle on what COMMAND writes with INPUT, a file
# or a handle (or nothing), on its input, and at most MEMORY bytes of data.
sub from {
    my ($input, @command) = @_;
    my $pid = open my $out, '-|';
    defined $pid or refuse 'tools', "cannot run $command[0]";
    return $out if $pid;
    ref $input ? open(STDIN, '<&', $input) : open(STDIN, '<', $input // '/dev/null')
        or POSIX::_exit(127);
    exec 'prlimit', '--data=' . MEMORY, '--', @command or POSIX::_exit(127);
}
# run INPUT COMMAND...: what COMMAND prints, so run; nothing if it fails.
sub run { my $out = from(@_); local $/; my $text = <$out>; close $out or return; return $text }

# entries NAME TOP KIND COMMAND...: the paths of the tar stream that the
# pipeline of COMMANDs (each a list, the first reading NAME) writes, each of
# which succeeds, if it holds, once each, under TOP/, only plain files,
# folders and links, none set-id; and, by KIND, only what verdix installs
# (tarball), below usr/ (package of dpkg's, rpm), or control and md5sums
# (control), and links that lead there alone.
sub entries {
    my ($name, $top, $kind, @commands) = @_;
    my $installed = qr{(bin(/verdix(-static)?)?|share(/doc(/verdix(/[\w.+-]+)?)?
        |/man(/man1(/verdix(-static)?\.1\.gz)?)?|/lintian(/overrides(/verdix)?)?
        |/licenses(/verdix(/[\w.+-]+)?)?)?)}x;
    my %holds = (package => qr{(usr(/$installed)?)?}, control => qr{(control|md5sums)?},
        tarball => qr{($installed)?}, source => qr{.*});
    # (rpm lists the folders it owns alone, and a source tarball none.)
    $holds{rpm} = $holds{package};
    my $folders = $kind ne 'rpm' && $kind ne 'source';
    my $most = $kind eq 'control' ? CONTROL : MEMBER;
    # A child hands tar at most STREAM bytes of the stream, and exits 3 if
    # there are more, or 4 if a command of the pipeline fails; tar lists to
    # the pipe that this process reads.
    my $copier = open my $list, '-|';
    defined $copier or refuse 'tools', 'cannot start tar';
    if (!$copier) {
        # (Each handle is kept: closing a handle of a pipe waits for its writer.)
        my @streams;
        push @streams, from(@streams ? $streams[-1] : $name, @{$_}) for @commands;
        my $stream = $streams[-1];
        open my $tar, '|-', 'prlimit', '--data=' . MEMORY, '--',
            qw(tar --quoting-style=c --full-time --numeric-owner -tvf -) or POSIX::_exit(1);
        # (A tar that has read the archive's end reads no more: the rest is
        # read, to its end, but not copied. Each copy is written at once, or
        # close would write what is left, fail once tar has gone, and lose
        # tar's exit status.)
        local $SIG{PIPE} = 'IGNORE';
        $tar->autoflush(1);
        my ($left, $copying) = (STREAM, 1);
        while (my $got = read $stream, my $block, 1 << 16) {
            $left -= $got;
            if ($left < 0) { close $tar; POSIX::_exit(3) }
            $copying &&= print $tar $block;
        }
        my $listed = close $tar;
        my $whole = !grep { !close $_ } reverse @streams;
        POSIX::_exit(!$listed ? 1 : !$whole ? 4 : 0);
    }
    my $listing = most($list, LISTING) // '';
    my $copied = close $list ? 0 : $?;
    length $listing <= LISTING
        or refuse 'bounds', "$name: its listing is more than the " . LISTING . ' bytes';
    for (split /\n/, $listing) {
        next unless /\A\S+ \S+ +([0-9]+) \S+ \S+ "((?:[^"\\]|\\.)*)"/ && $1 > $most;
        refuse 'bounds', "$name: its member $2 is $1 bytes, more than the $most it may be";
    }
    $copied >> 8 != 3
        or refuse 'bounds', "$name: its tar stream is more than the " . STREAM . ' bytes';
    $copied >> 8 != 4 or refuse 'archives', "$name does not decompress whole: $commands[-1][0]"
        . ' failed';
    $copied == 0 or refuse 'archives', "$name is not an archive that tar lists whole";
    my (%seen, @paths);
    my $quoted = qr{"([A-Za-z0-9._+~/-]+)"};
    for (split /^/, $listing) {
        m{\A([-dl])[-rwx]{9} [0-9]+/[0-9]+ +[0-9]+ \S+ \S+ $quoted(?: -> $quoted)?\n\z}
            or refuse 'archives', "$name holds what is not a plain file, folder or link of a"
            . ' plain name, or is set-id: ' . shown($_);
        my ($type, $path, $link) = ($1, $2, $3);
        $path =~ s{/\z}{};
        !$seen{$path}++ && ($type eq 'l') == defined $link && $path =~ m{\A\Q$top\E(/(.*))?\z}
            or refuse 'archives', "$name holds $path twice, or not under $top/";
        my $below = $2 // '';
        my @at = ($top, split m{/}, $below);
        !(grep { $_ eq '..' || $_ eq '.' || $_ eq '' } @at[1 .. $#at])
            && $below =~ /\A$holds{$kind}\z/
            or refuse 'archives', "$name holds $path, which verdix does not install there";
        # (Nothing is reached through a link, but through a folder it holds,
        # where it lists folders; a link leads only to where verdix installs.)
        my @up = @at[0 .. $#at - 1];
        !grep { ($seen{join '/', @up[0 .. $_]} // '') eq 'l' } 1 .. $#up
            or refuse 'archives', "$name holds $path, below a link of its own";
        !$folders || @up < 2 || ($seen{join '/', @up} // '') eq 'd'
            or refuse 'archives', "$name holds $path, but not the folder it is in";
        $seen{$path} = $type;
        push @paths, $path;
        next unless defined $link;
        pop @at;
        for (split m{/}, $link, -1) {
            $_ ne '' && !($_ eq '..' && @at < 2)
                or refuse 'archives', "$name: $path leads out of $top";
            $_ eq '..' ? pop @at : push @at, $_;
        }
        $kind eq 'source' || @at > 1 && join('/', @at[1 .. $#at]) =~ /\A$holds{$kind}\z/
            or refuse 'archives', "$name: $path leads to where verdix does not install";
    }
    @paths or refuse 'archives', "$name holds nothing";
    return @paths;
}

1;
