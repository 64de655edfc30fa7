// Writes the sample table that DllMainCall shows: a few dozen films with
// title, year, director, genre and rating, made with the engine's own table
// creation and appends. Usage: make_movie_table [name], default "movie", in
// the current directory; an existing table of that name is replaced.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace {

struct Film {
  const char* title;
  int year;
  const char* director;
  const char* genre;
  double rating;
};

// Ratings are the project's own, out of 10.
const Film kFilms[] = {
    {"Casablanca", 1942, "Michael Curtiz", "Drama", 8.5},
    {"Citizen Kane", 1941, "Orson Welles", "Drama", 8.3},
    {"The Third Man", 1949, "Carol Reed", "Thriller", 8.1},
    {"Singin' in the Rain", 1952, "Stanley Donen", "Musical", 8.3},
    {"Rear Window", 1954, "Alfred Hitchcock", "Thriller", 8.5},
    {"Seven Samurai", 1954, "Akira Kurosawa", "Adventure", 8.6},
    {"12 Angry Men", 1957, "Sidney Lumet", "Drama", 9.0},
    {"Vertigo", 1958, "Alfred Hitchcock", "Thriller", 8.3},
    {"Some Like It Hot", 1959, "Billy Wilder", "Comedy", 8.2},
    {"Lawrence of Arabia", 1962, "David Lean", "Adventure", 8.3},
    {"Dr. Strangelove", 1964, "Stanley Kubrick", "Comedy", 8.4},
    {"The Good, the Bad and the Ugly", 1966, "Sergio Leone", "Western", 8.8},
    {"2001: A Space Odyssey", 1968, "Stanley Kubrick", "Sci-Fi", 8.3},
    {"The Godfather", 1972, "Francis Ford Coppola", "Crime", 9.2},
    {"Chinatown", 1974, "Roman Polanski", "Crime", 8.1},
    {"Jaws", 1975, "Steven Spielberg", "Thriller", 8.1},
    {"Taxi Driver", 1976, "Martin Scorsese", "Crime", 8.2},
    {"Annie Hall", 1977, "Woody Allen", "Comedy", 8.0},
    {"Alien", 1979, "Ridley Scott", "Sci-Fi", 8.5},
    {"Raiders of the Lost Ark", 1981, "Steven Spielberg", "Adventure", 8.4},
    {"Blade Runner", 1982, "Ridley Scott", "Sci-Fi", 8.1},
    {"Back to the Future", 1985, "Robert Zemeckis", "Comedy", 8.5},
    {"My Neighbor Totoro", 1988, "Hayao Miyazaki", "Animation", 8.1},
    {"Do the Right Thing", 1989, "Spike Lee", "Drama", 7.9},
    {"Goodfellas", 1990, "Martin Scorsese", "Crime", 8.7},
    {"The Silence of the Lambs", 1991, "Jonathan Demme", "Thriller", 8.6},
    {"Unforgiven", 1992, "Clint Eastwood", "Western", 8.2},
    {"Groundhog Day", 1993, "Harold Ramis", "Comedy", 8.0},
    {"Pulp Fiction", 1994, "Quentin Tarantino", "Crime", 8.9},
    {"Fargo", 1996, "Joel Coen", "Crime", 8.1},
    {"Spirited Away", 2001, "Hayao Miyazaki", "Animation", 8.6},
    {"Amelie", 2001, "Jean-Pierre Jeunet", "Comedy", 8.3},
    {"City of God", 2002, "Fernando Meirelles", "Crime", 8.6},
    {"Pan's Labyrinth", 2006, "Guillermo del Toro", "Fantasy", 8.2},
    {"No Country for Old Men", 2007, "Joel Coen", "Thriller", 8.2},
    {"Up", 2009, "Pete Docter", "Animation", 8.3},
    {"Inception", 2010, "Christopher Nolan", "Sci-Fi", 8.8},
    {"Parasite", 2019, "Bong Joon Ho", "Thriller", 8.5},
};

bool Failed(const char* step) {
  if (qd::ErrorCode == 0) return false;
  std::fprintf(stderr, "make_movie_table: %s failed: %s\n", step,
               qd::PendingErrorMessage().c_str());
  return true;
}

// Stores one value into field n of the native record, in the slot the
// engine laid out for that field.
void SetText(int n, const std::string& text) {
  std::uint8_t* slot = qd::FieldAddress(n);
  const std::size_t length = std::min<std::size_t>(text.size(), qd::FieldLen(n));
  slot[0] = static_cast<std::uint8_t>(length);
  std::memcpy(slot + 1, text.data(), length);
}

void SetNumber(int n, double value) {
  std::uint8_t* slot = qd::FieldAddress(n);
  const qd::FieldEntry& field = qd::CurrentWorkArea()->fields[static_cast<std::size_t>(n - 1)];
  if (field.slot == qd::NativeSlot::Double) {
    std::memcpy(slot, &value, sizeof value);
  } else {
    const auto whole = static_cast<std::int32_t>(value);
    std::memcpy(slot, &whole, sizeof whole);
  }
}

}  // namespace

int main(int argc, char** argv) {
  qd::InitErrorUnit();
  qd::InitDateUnit();
  qd::ImmediateDispatch = false;  // failures are reported here, not by a halt
  const std::string name = argc > 1 ? argv[1] : "movie";

  qd::CreateDBF(name, {{"TITLE", 'C', 40, 0},
                       {"YEAR", 'N', 4, 0},
                       {"DIRECTOR", 'C', 30, 0},
                       {"GENRE", 'C', 12, 0},
                       {"RATING", 'N', 4, 1}});
  if (Failed("creating the table")) return 1;
  qd::Select(1);
  qd::Use(name + " EXCLUSIVE", nullptr, 0);
  if (Failed("opening the table")) return 1;
  for (const Film& film : kFilms) {
    qd::ClearRecord();
    SetText(1, film.title);
    SetNumber(2, film.year);
    SetText(3, film.director);
    SetText(4, film.genre);
    SetNumber(5, film.rating);
    qd::Append();
    if (Failed("appending a film")) return 1;
  }
  const std::int32_t count = qd::RecCount();
  qd::Close();
  if (Failed("closing the table")) return 1;
  std::printf("%s: %d films\n", name.c_str(), static_cast<int>(count));
  return 0;
}
