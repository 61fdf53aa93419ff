# use Verdix::Release: the table of machines, and the schema of a release's .buildinfo.
# release/buildinfo writes and checks a .buildinfo with it, and site/check-release checks one.
# One schema for the file that is written and the file that is read:
# every field, each value whole, by dpkg's own parsers.
package Verdix::Release;
use strict;
use warnings;
use Dpkg::Control;
use Dpkg::Deps;
use Dpkg::Version;
use File::Basename;
use Exporter 'import';

our @EXPORT = qw(machines read_buildinfo);
my $packaging = dirname(__FILE__) . '/../..';

# machines: the rows of the table of architectures, each a hash of its
# columns: machine, deb, rpm, triplet, qemu.
sub machines {
    open my $table, '<', "$packaging/facts/architectures" or die "no table of architectures\n";
    my @columns = qw(machine deb rpm triplet qemu);
    return map { my @row = split; +{ map { $columns[$_] => $row[$_] } 0 .. $#columns } }
        grep { !/^#/ && /\S/ } <$table>;
}
my %deb = map { $_->{deb} => 1 } machines();
my $name = qr/[A-Za-z0-9][A-Za-z0-9._+~-]*/;
my $date = qr/[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}(:[0-9]{2}){2} [+-][0-9]{4}/;

# lines VALUE PATTERN: VALUE's lines (after its first, empty), each of which
# must match PATTERN whole; none when VALUE is not a list.
sub lines {
    my ($value, $pattern) = @_;
    my @lines = split /\n/, $value, -1;
    return if @lines < 2 || shift @lines ne '' || grep { !/\A$pattern\z/ } @lines;
    return @lines;
}

# one VALUE PATTERN: VALUE, if it matches PATTERN whole.
sub one { return $_[0] =~ /\A$_[1]\z/ ? $_[0] : () }

# machines_of VALUE: the machines of Architecture, and "source" last.
sub machines_of {
    my @words = split / /, $_[0], -1;
    return if grep { !$deb{$_} } @words[0 .. $#words - 1];
    return $words[-1] eq 'source' && @words > 1 ? @words : ();
}

# packages VALUE: every package of the root at its exact version, as apt
# names it: NAME[:ARCH]=VERSION.
sub packages {
    my $deps = deps_parse($_[0], reduce_arch => 0) or return;
    my @packages;
    for my $dep ($deps->get_deps) {
        return unless $dep->isa('Dpkg::Deps::Simple') && !$dep->{arches} && !$dep->{restrictions}
            && $dep->{package} =~ /\A[a-z0-9][a-z0-9+.-]+\z/
            && (!defined $dep->{archqual} || $deb{$dep->{archqual}})
            && ($dep->{relation} // '') eq REL_EQ && $dep->{version} =~ /\A[0-9][A-Za-z0-9.+~:-]*\z/
            && version_check($dep->{version});
        my $arch = $dep->{archqual} ? ":$dep->{archqual}" : '';
        push @packages, "$dep->{package}$arch=$dep->{version}";
    }
    return @packages;
}

# Each field, and its values, or none when it is not right.
my %schema = (
    'Format' => sub { one($_[0], '1\.0') },
    'Source' => sub { one($_[0], 'verdix') },
    'Binary' => sub { one($_[0], 'verdix') },
    'Architecture' => \&machines_of,
    'Version' => sub { version_check($_[0]) ? one($_[0], '[0-9][A-Za-z0-9.+~]*') : () },
    'Checksums-Sha256' => sub { lines($_[0], qr/[0-9a-f]{64} [0-9]+ $name/) },
    'Build-Origin' => sub { one($_[0], 'Debian') },
    'Build-Suite' => sub { one($_[0], '[a-z]+') },
    'Build-Architecture' => sub { $deb{$_[0]} ? $_[0] : () },
    'Build-Sources' => sub { lines($_[0], qr/deb(-src)? [a-z]+(-[a-z]+)?/) },
    'Build-Path' => sub { one($_[0], '(/[A-Za-z0-9_+~-][A-Za-z0-9._+~-]*)+') },
    'Source-Commit' => sub { one($_[0], '[0-9a-f]{40}( with changes not committed)?|unknown') },
    'Source-Date' => sub { one($_[0], $date) },
    'Baseline-Checksums-Sha256' => sub { lines($_[0], qr/[0-9a-f]{64} $name\.deb/) },
    'Environment' => sub { $_[0] eq qq(\nLC_ALL="C"\nTZ="UTC0") ? lines($_[0], qr/.*/) : () },
    'Installed-Build-Depends' => \&packages,
);

# read_buildinfo FILE: FILE's fields, each a list of its values, if FILE is
# a .buildinfo of this schema; else dies, saying why.
sub read_buildinfo {
    my ($file) = @_;
    # One paragraph of printable lines, with nothing that dpkg would pass over.
    open my $raw, '<', $file or die "cannot read $file\n";
    my $text = do { local $/; <$raw> };
    $text =~ /\A[^#\s][\x20-\x7e\n]*\n\z/ && $text !~ /\n[#\n]/
        or die "$file is not one paragraph of printable lines\n";
    my $fields = Dpkg::Control->new(type => CTRL_FILE_BUILDINFO, allow_pgp => 0);
    eval { $fields->load($file) }
        or chomp($@), die "$file is not a .buildinfo that dpkg reads: $@\n";
    my %values;
    for my $key (keys %{$fields}) {
        my $rule = $schema{$key}
            or die "$file has a field $key, which a .buildinfo of verdix has not\n";
        $values{$key} = [$rule->($fields->{$key})];
        @{$values{$key}} or die "$file: its field $key is not as a .buildinfo of verdix has it\n";
    }
    $values{$_} or die "$file has no field $_\n" for sort keys %schema;
    return \%values;
}

1;
